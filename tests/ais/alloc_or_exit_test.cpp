#include "ais/alloc_or_exit.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#if defined(__SANITIZE_ADDRESS__)
// Let an impossible request fail as plain malloc does instead of being reported by ASan. ASan
// still warns about it on standard error, so silence is only checked in plain builds.
extern "C" const char* __asan_default_options() {
    return "allocator_may_return_null=1";
}
constexpr const char* expectedStderr = "";
#else
constexpr const char* expectedStderr = "^$";
#endif

TEST(AllocOrExit, ReturnsWritableMemoryEvenForZeroBytes) {
    for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{450}}) {
        void* memory = allocOrExit(size);
        ASSERT_NE(memory, nullptr) << size;
        std::memset(memory, 0xA5, size);
        std::free(memory);
    }
}

TEST(AllocOrExitDeathTest, ExhaustedMemoryEndsTheProcessWithStatusOneSilently) {
    EXPECT_EXIT(allocOrExit(SIZE_MAX / 2), testing::ExitedWithCode(1), expectedStderr);
}

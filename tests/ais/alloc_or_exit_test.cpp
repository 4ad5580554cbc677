#include "ais/alloc_or_exit.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

// Sanitizer allocators report an impossible request instead of failing it as plain malloc does;
// let them fail it. They still warn on standard error, so silence is only checked in plain
// builds.
#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __asan_default_options() {
    return "allocator_may_return_null=1";
}
#endif
#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_options() {
    return "allocator_may_return_null=1";
}
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
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

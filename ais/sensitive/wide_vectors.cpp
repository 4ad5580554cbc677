#include "ais/sensitive/wide_vectors.hpp"

#include <atomic>

namespace keelwave::ais {

namespace {

std::atomic<bool> wideAllowed{true};

}  // namespace

bool hasWideVectors() {
#if defined(__x86_64__)
    return wideAllowed && __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
#else
    return false;
#endif
}

void allowWideVectors(bool allowed) {
    wideAllowed = allowed;
}

}  // namespace keelwave::ais

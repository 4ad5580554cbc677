#include "ais/sensitive/wide_vectors.hpp"

namespace keelwave::ais {

bool hasWideVectors() {
#if defined(__x86_64__)
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
#else
    return false;
#endif
}

}  // namespace keelwave::ais

#include "fuzz/invariant.hpp"

#include <cstdio>
#include <cstdlib>

void invariantBroken(const std::string& what) {
    std::fprintf(stderr, "INVARIANT BROKEN: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

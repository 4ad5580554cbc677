#include "ais/alloc_or_exit.hpp"

#include <cstdlib>

namespace keelwave::ais {

namespace {

constexpr int outOfMemoryExitStatus = 1;

}  // namespace

void* allocOrExit(std::size_t size) {
    // A zero-byte request may legitimately come back null from malloc; asking for one byte
    // keeps that from being taken for exhaustion.
    void* memory = std::malloc(size == 0 ? 1 : size);
    if (memory == nullptr) {
        std::_Exit(outOfMemoryExitStatus);
    }
    return memory;
}

}  // namespace keelwave::ais

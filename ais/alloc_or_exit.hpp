#pragma once

#include <cstddef>

namespace keelwave::ais {

/// Heap allocation for the decoding chain: returns `size` uninitialised bytes (free them with
/// std::free). When memory is exhausted the process ends at once with exit status 1, without a
/// message and without unwinding, so the per-sample code never has to handle a failure.
void* allocOrExit(std::size_t size);

}  // namespace keelwave::ais

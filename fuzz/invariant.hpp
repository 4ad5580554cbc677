#pragma once

#include <string>

/// Reports a broken invariant on standard error and aborts, so that the fuzzer keeps the input
/// that led here as a crash.
[[noreturn]] void invariantBroken(const std::string& what);

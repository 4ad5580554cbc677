#pragma once

// Runs a decoding program over a recording and reads what it printed: the sentences by
// channel, its CPU time and its peak memory (as GNU time reports them).

#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace keelwave::bench {

/// One column of a measurement: a chain of one program.
struct Decoder {
    std::string label;    ///< as the table heads it
    std::string program;  ///< keelwave, or chain_replay when `replay`
    std::string chain;    ///< classic or sensitive
    bool replay = false;  ///< the program is chain_replay, which takes --chain
};

/// What one decoding gave.
struct Decoded {
    std::map<char, std::vector<std::string>> sentences;  ///< by channel, in order printed
    double cpuSeconds = 0.0;
    long peakKb = 0;
};

/// The command that decodes `input` (a file, or - for standard input) with `decoder`.
std::string decodeCommand(const Decoder& decoder, const std::string& input);

/// Runs `command` with its standard output in `outputPath`; `feed` writes its standard input.
Decoded runDecoder(const std::string& command, const std::string& outputPath,
                   const std::function<void(std::FILE*)>& feed);

/// Decodes the file `input` with `decoder`, its sentences kept beside it.
Decoded decodeFile(const Decoder& decoder, const std::string& input);

/// Message payloads (fragments joined, sequence id and checksum aside) of sentences as printed.
std::vector<std::string> payloads(const std::vector<std::string>& sentences);

}  // namespace keelwave::bench

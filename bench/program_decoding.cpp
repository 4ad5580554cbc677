#include "bench/program_decoding.hpp"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace keelwave::bench {

namespace {

constexpr std::size_t channelField = 4;  // !AIVDM,count,number,id,channel,payload,fill*hh
constexpr std::size_t payloadField = 5;
constexpr std::size_t sentenceFields = 7;

std::vector<std::string> fields(const std::string& sentence) {
    std::vector<std::string> result;
    std::stringstream stream(sentence);
    std::string field;
    while (std::getline(stream, field, ',')) {
        result.push_back(field);
    }
    return result;
}

// Reads the sentences a decoding printed (bare, or inside log lines) from `path`.
void collectSentences(const std::string& path, Decoded& decoded) {
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        const auto at = line.find("!AIVDM");
        if (at == std::string::npos) {
            continue;
        }
        const std::string sentence = line.substr(at);
        const std::vector<std::string> parts = fields(sentence);
        if (parts.size() > channelField && !parts[channelField].empty()) {
            decoded.sentences[parts[channelField][0]].push_back(sentence);
        }
    }
}

}  // namespace

std::string decodeCommand(const Decoder& decoder, const std::string& input) {
    if (decoder.replay) {
        return decoder.program + " --chain " + decoder.chain + " " + input;
    }
    return decoder.program + " -r " + input + " --decoder " + decoder.chain;
}

Decoded runDecoder(const std::string& command, const std::string& outputPath,
                   const std::function<void(std::FILE*)>& feed) {
    const std::string timesPath = outputPath + ".time";
    const std::string shell =
        "/usr/bin/time -f '%U %S %M' -o " + timesPath + " " + command + " > " + outputPath;
    std::FILE* pipe = popen(shell.c_str(), "w");
    if (pipe == nullptr) {
        throw std::runtime_error("cannot run " + command);
    }
    feed(pipe);
    if (pclose(pipe) != 0) {
        throw std::runtime_error(command + " failed");
    }
    Decoded decoded;
    std::ifstream times(timesPath);
    double user = 0.0;
    double system = 0.0;
    times >> user >> system >> decoded.peakKb;
    decoded.cpuSeconds = user + system;
    collectSentences(outputPath, decoded);
    return decoded;
}

Decoded decodeFile(const Decoder& decoder, const std::string& input) {
    std::string name = decoder.label;
    for (char& character : name) {
        character = character == ' ' || character == '/' ? '-' : character;
    }
    return runDecoder(decodeCommand(decoder, input), input + "." + name + ".txt",
                      [](std::FILE*) {});
}

std::vector<std::string> payloads(const std::vector<std::string>& sentences) {
    std::vector<std::string> messages;
    std::string pending;
    for (const std::string& sentence : sentences) {
        const std::vector<std::string> parts = fields(sentence);
        if (parts.size() < sentenceFields) {
            continue;
        }
        pending += parts[payloadField];
        if (parts[1] == parts[2]) {
            messages.push_back(pending);
            pending.clear();
        }
    }
    return messages;
}

}  // namespace keelwave::bench

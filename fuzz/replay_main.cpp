// Runs a fuzz target over files, or every file of the directories given, once each: how the
// test suite replays the seed corpora and the inputs of faults found before, with every
// invariant of the target, in builds without libFuzzer.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    std::size_t inputs = 0;
    for (int i = 1; i < argc; ++i) {
        if (!std::filesystem::exists(argv[i])) {
            continue;
        }
        std::vector<std::filesystem::path> files{argv[i]};
        if (std::filesystem::is_directory(argv[i])) {
            files.assign(std::filesystem::directory_iterator(argv[i]), {});
        }
        for (const auto& file : files) {
            std::ifstream in(file, std::ios::binary);
            const std::vector<uint8_t> data(std::istreambuf_iterator<char>(in), {});
            LLVMFuzzerTestOneInput(data.data(), data.size());
            ++inputs;
        }
    }
    std::printf("%zu inputs replayed\n", inputs);
    return inputs > 0 ? 0 : 1;
}

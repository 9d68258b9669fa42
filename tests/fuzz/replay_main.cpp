// Runs a fuzz target's entry point over every file below the folders it is given: its seeds and
// the inputs it once failed on (kept in fuzzed/), so that an ordinary test run replays them.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    size_t inputs = 0;
    for (int i = 1; i < argc; ++i) {
        std::error_code error;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(argv[i], error)) {
            if (!entry.is_regular_file())
                continue;
            std::ifstream file(entry.path(), std::ios::binary);
            const std::vector<char> bytes{std::istreambuf_iterator<char>(file),
                                          std::istreambuf_iterator<char>()};
            std::printf("replay %s (%zu bytes)\n", entry.path().c_str(), bytes.size());
            std::fflush(stdout);
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
            ++inputs;
        }
        if (error) {
            std::fprintf(stderr, "replay: cannot read %s: %s\n", argv[i], error.message().c_str());
            return 1;
        }
    }
    if (inputs == 0) {
        std::fprintf(stderr, "replay: no inputs found\n");
        return 1;
    }
    std::printf("replayed %zu inputs\n", inputs);
    return 0;
}

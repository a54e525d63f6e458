// Runs a fuzz target once over every file of the folders on its command line, without libFuzzer:
// the seed corpus and every crash ever found replay as an ordinary test in every build.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int *argc, char ***argv);

int main(int argc, char **argv)
{
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    int inputs = 0;
    for (int k = 1; k < argc; ++k) {
        for (const auto &entry : std::filesystem::directory_iterator(argv[k])) {
            std::ifstream file(entry.path(), std::ios::binary);
            const std::vector<char> bytes {std::istreambuf_iterator<char>(file),
                                           std::istreambuf_iterator<char>()};
            LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t *>(bytes.data()),
                                   bytes.size());
            ++inputs;
        }
    }
    std::printf("%d inputs replayed\n", inputs);
    return inputs > 0 ? 0 : 1;
}

// Runs a fuzz target's entry point over saved inputs, every file in the folders given, for the
// normal test suite where libFuzzer is not linked.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv)
{
    int inputs = 0;
    bool ok = true;
    for (int i = 1; i < argc; ++i) {
        // A folder that is missing holds no inputs yet.
        std::error_code missing;
        for (const auto &entry : std::filesystem::directory_iterator(argv[i], missing)) {
            if (!entry.is_regular_file() || entry.path().filename().string()[0] == '.')
                continue;
            std::ifstream in(entry.path(), std::ios::binary);
            if (!in) {
                std::fprintf(stderr, "cannot read %s\n", entry.path().c_str());
                ok = false;
                continue;
            }
            const std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)),
                                            std::istreambuf_iterator<char>());
            LLVMFuzzerTestOneInput(data.data(), data.size());
            ++inputs;
        }
    }
    // Inputs that decode must also survive a round trip, which the targets check themselves;
    // the empty input is always run so that a target without saved inputs still executes.
    LLVMFuzzerTestOneInput(nullptr, 0);
    std::printf("replayed %d inputs\n", inputs);
    return ok ? 0 : 1;
}

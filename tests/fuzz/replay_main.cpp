// Outside the fuzz build a fuzz target replays inputs instead of searching:
//   TARGET PATH...
// runs each file, or each file in each directory, once, as libFuzzer would.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    LLVMFuzzerInitialize(&argc, &argv);
    std::set<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        if (!fs::is_directory(argv[i]))
            inputs.insert(argv[i]);
        else
            for (const fs::directory_entry& entry : fs::directory_iterator(argv[i]))
                inputs.insert(entry.path());
    }
    for (const fs::path& input : inputs) {
        std::ifstream in(input, std::ios::binary);
        std::string bytes{std::istreambuf_iterator<char>(in), {}};
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
    std::printf("replayed %zu inputs\n", inputs.size());
    return inputs.empty() ? 1 : 0;  // nothing replayed is a broken test, not a pass
}

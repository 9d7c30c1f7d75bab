// Plain replay driver for a fuzz target: every file named on the command line
// (a directory stands for the files in it, sorted) is read whole and handed
// to the target once. Used by CI under the sanitizer build, where libFuzzer
// is not available.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

bool run_file(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return false;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // An exact heap block, so that reads past the end are caught.
    std::vector<uint8_t> exact(bytes.begin(), bytes.end());
    (void)LLVMFuzzerTestOneInput(exact.empty() ? nullptr : exact.data(), exact.size());
    return true;
}

} // namespace

int main(int argc, char **argv) {
    std::size_t ran = 0;
    bool ok = true;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path arg(argv[i]);
        std::error_code error;
        if (std::filesystem::is_directory(arg, error)) {
            std::vector<std::filesystem::path> files;
            for (const auto &entry : std::filesystem::recursive_directory_iterator(arg, error))
                if (entry.is_regular_file()) files.push_back(entry.path());
            std::sort(files.begin(), files.end());
            for (const auto &file : files) {
                ok = run_file(file) && ok;
                ++ran;
            }
        } else {
            ok = run_file(arg) && ok;
            ++ran;
        }
    }
    std::printf("%s: %zu inputs replayed\n", argc > 0 ? argv[0] : "replay", ran);
    return ok ? 0 : 1;
}

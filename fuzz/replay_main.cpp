// Plain replay driver for a fuzz target: every file named on the command line
// (a directory stands for the files in it, sorted) is read whole and handed
// to the target once. Used by CI under the sanitizer build, where libFuzzer
// is not available.
//
//   <target>_replay [--skip-list FILE] FILE|DIR...
//
// The skip list names inputs of known, reported and not yet fixed faults,
// one per line: "<target> <file name> <reason...>"; such an input is passed
// over (with a note) by that target only. Lines starting with '#' are comments.
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

struct Skip {
    std::string target;
    std::string file;
};

std::vector<Skip> read_skip_list(const char *path) {
    std::vector<Skip> skips;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        const std::size_t a = line.find_first_of(" \t");
        if (a == std::string::npos) continue;
        const std::size_t b = line.find_first_not_of(" \t", a);
        const std::size_t c = line.find_first_of(" \t", b);
        skips.push_back({line.substr(0, a), line.substr(b, c == std::string::npos ? std::string::npos : c - b)});
    }
    return skips;
}

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
    std::size_t skipped = 0;
    bool ok = true;
    std::string target = argc > 0 ? std::filesystem::path(argv[0]).filename().string() : "";
    if (target.size() > 7 && target.compare(target.size() - 7, 7, "_replay") == 0)
        target.resize(target.size() - 7);
    std::vector<Skip> skips;
    auto skip = [&](const std::filesystem::path &file) {
        for (const Skip &s : skips)
            if (s.target == target && s.file == file.filename().string()) {
                std::printf("skipped %s (known fault, see the skip list)\n", file.c_str());
                ++skipped;
                return true;
            }
        return false;
    };
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--skip-list" && i + 1 < argc) {
            skips = read_skip_list(argv[++i]);
            continue;
        }
        const std::filesystem::path arg(argv[i]);
        std::error_code error;
        if (std::filesystem::is_directory(arg, error)) {
            std::vector<std::filesystem::path> files;
            for (const auto &entry : std::filesystem::recursive_directory_iterator(arg, error))
                if (entry.is_regular_file()) files.push_back(entry.path());
            std::sort(files.begin(), files.end());
            for (const auto &file : files) {
                if (skip(file)) continue;
                ok = run_file(file) && ok;
                ++ran;
            }
        } else if (!skip(arg)) {
            ok = run_file(arg) && ok;
            ++ran;
        }
    }
    std::printf("%s: %zu inputs replayed, %zu skipped\n", target.c_str(), ran, skipped);
    return ok ? 0 : 1;
}

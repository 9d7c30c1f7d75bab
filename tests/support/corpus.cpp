#include "support/corpus.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace qrl_test {

std::string corpus_dir() {
    if (const char *env = std::getenv("QRL_CORPUS"); env != nullptr && *env != '\0')
        return fs::is_directory(env) ? std::string(env) : std::string();
    for (const char *candidate : {"/../shared/corpus", "/../../shared/corpus"}) {
        fs::path p = fs::path(std::string(QRL_SOURCE_DIR) + candidate);
        if (fs::is_directory(p)) return fs::canonical(p).string();
    }
    return {};
}

std::vector<std::string> corpus_files(const std::string &category) {
    std::vector<std::string> files;
    const std::string dir = corpus_dir();
    if (dir.empty() || !fs::is_directory(dir + "/" + category)) return files;
    for (const auto &entry : fs::directory_iterator(dir + "/" + category))
        if (entry.is_regular_file()) files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

std::string fixture_path(const std::string &name) { return std::string(QRL_FIXTURE_DIR) + "/" + name; }

std::vector<uint8_t> read_file_bytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace qrl_test

// Locating test data: the repository's fixtures and the shared corpus.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace qrl_test {

// The shared corpus folder (QRL_CORPUS, else ../shared/corpus beside the
// repository), or an empty string when it is absent.
std::string corpus_dir();
// Files of one corpus category ("baseline", "progressive", ...), sorted.
std::vector<std::string> corpus_files(const std::string &category);
// Path of a fixture in tests/fixtures.
std::string fixture_path(const std::string &name);
std::vector<uint8_t> read_file_bytes(const std::string &path);

} // namespace qrl_test

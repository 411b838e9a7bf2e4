// Replays the fuzz corpus through both fuzz targets: every kept input,
// including those that once found a fault, runs in the ordinary test suite
// (and in its sanitizer build).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "tests/fuzz/targets.hpp"

namespace {

namespace fs = std::filesystem;

int replay(const char* folder, int (*target)(const std::uint8_t*, std::size_t)) {
  int count = 0;
  for (const auto& entry : fs::directory_iterator(fs::path(MVTS_SOURCE_DIR) / "tests/fuzz/corpus" / folder)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    SCOPED_TRACE(entry.path().string());
    EXPECT_EQ(target(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), 0);
    ++count;
  }
  return count;
}

TEST(FuzzCorpus, ScriptInputsReplayClean) {
  EXPECT_GT(replay("script", mvts::fuzz::script_input), 0);
}

TEST(FuzzCorpus, SessionInputsReplayClean) {
  EXPECT_GT(replay("session", mvts::fuzz::session_input), 0);
}

}  // namespace

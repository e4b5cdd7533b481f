#include "output.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace std::string_literals;
namespace fs = std::filesystem;

std::string bytes_of(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<missing>";
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::string names_in(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  std::string all;
  for (const std::string& name : names) all += name + " ";
  return all;
}

}  // namespace

TEST(Output, WriteEscapedShowsControlBytes) {
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"", ""},
      {"a\tb\n", "a\tb\n"},
      {"\x1b[31mred\x07", "\\x1b[31mred\\x07"},
      {"\0\r\n"s, "\\x00\\x0d\n"},
      {"\x1f \x7f\x80\xff~", "\\x1f \\x7f\x80\xff~"},
      {std::string(5000, '\x01'),
       [] {
         std::string shown;
         for (int i = 0; i < 5000; ++i) shown += "\\x01";
         return shown;
       }()},
  };
  for (const auto& [bytes, shown] : rows) {
    int ends[2] = {-1, -1};  // a pipe holds all of it
    ASSERT_EQ(0, ::pipe(ends));
    EXPECT_EQ(0, write_escaped(ends[1], bytes));
    ::close(ends[1]);
    std::string got;
    std::array<char, 4096> block{};
    for (ssize_t n; (n = ::read(ends[0], block.data(), block.size())) > 0;) {
      got.append(block.data(), static_cast<std::size_t>(n));
    }
    ::close(ends[0]);
    EXPECT_EQ(shown, got);
  }
}

// Two outputs closed as one, the second of which cannot take its name (its
// directory is moved away under it): the first keeps, or gets back, what it
// held, and was not created when it did not exist.
TEST(Output, PairReplacedTogetherOrNotAtAll) {
  const fs::path base = fs::temp_directory_path() / ("output-test-" + std::to_string(::getpid()));
  for (const bool first_existed : {true, false}) {
    for (const bool blocked : {false, true}) {
      SCOPED_TRACE(std::string(first_existed ? "first existed" : "first new") + (blocked ? ", blocked" : ""));
      fs::remove_all(base);
      fs::create_directories(base / "sub");
      if (first_existed) std::ofstream(base / "first") << "old\n";
      std::ofstream(base / "sub" / "second") << "old\n";
      Output first = create_output((base / "first").string());
      Output second = create_output((base / "sub" / "second").string());
      write_output(first, "new\n");
      write_output(second, "new\n");
      if (blocked) fs::rename(base / "sub", base / "moved");
      const std::array<Output*, 2> both = {&first, &second};
      close_outputs(both);
      EXPECT_EQ(blocked ? (first_existed ? "old\n" : "<missing>") : "new\n", bytes_of(base / "first"));
      EXPECT_EQ(blocked ? "old\n" : "new\n", bytes_of(base / (blocked ? "moved" : "sub") / "second"));
      EXPECT_EQ(std::string(!blocked || first_existed ? "first " : "") + (blocked ? "moved " : "sub "),
                names_in(base));
      if (!blocked) {
        EXPECT_EQ("second ", names_in(base / "sub"));  // no temporary stays
      }
    }
  }
  fs::remove_all(base);
}

#include "escape.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <string>
#include <utility>
#include <vector>

using namespace std::string_literals;

TEST(Escape, WriteEscapedShowsControlBytes) {
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

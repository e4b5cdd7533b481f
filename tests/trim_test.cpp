#include "trim.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

TEST(Trim, FromEmptyOutward) {
  using namespace std::string_literals;
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"", ""},
      {"a", "a"},
      {" ", ""},
      {"\r", ""},
      {" \t\r\n \t", ""},
      {"  a", "a"},
      {"a\t\t", "a"},
      {" \ta b\r", "a b"},
      {"a \t\r\n b", "a \t\r\n b"},  // blanks inside are kept
      {"<ab>\r\n", "<ab>"},          // CR before LF
      {"\va\f", "\va\f"},            // vertical tab and form feed are not blanks
      {" \v ", "\v"},
      {"\0a\0"s, "\0a\0"s},  // neither is a zero byte
      {" \0 "s, "\0"s},
      {"\xa0x\xa0", "\xa0x\xa0"},
  };
  for (const auto& [line, trimmed] : rows) {
    EXPECT_EQ(trimmed, trim_view(line)) << "line \"" << line << "\"";
    EXPECT_EQ(trimmed, trim(line)) << "line \"" << line << "\"";
  }
}

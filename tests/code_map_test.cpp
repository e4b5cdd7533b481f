// The code map as read_code_map reads it, and decode_line with it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec.h"
#include "output.h"
#include "test_support.h"

// Every way a line can fail to decode, each checked before the next: a byte
// other than '0'/'1', '0' at either end, "000", a code word not in the map.
// What was in the text stays as it was.
TEST(CodeMap, DecodeRefusesMalformedLines) {
  const std::string long_code = "1010101010101010101010101";  // 25 bits: not in the flat table
  CodeMap map;
  map.codes = {"1", "11", "101", long_code};
  map.patterns = {"a", "bc", ".com", "z"};
  const Decoder decoder = build_decoder(map);
  struct Row {
    std::string line;
    std::string text;   // what it decodes to
    std::string wrong;  // or what is wrong with it
  };
  const Row rows[] = {
      {"", "", ""},
      {"1", "a", ""},
      {"1100101001001", "bc.comaa", ""},
      {"100" + long_code + "0011", "azbc", ""},
      {"0x1", "", "invalid character \"x\""},
      {"1\r", "", "invalid character \"\r\""},
      {"0", "", "begins with \"0\""},
      {"01", "", "begins with \"0\""},
      {"10", "", "ends with \"0\""},
      {"1000", "", "ends with \"0\""},
      {"10001", "", "holds \"000\""},
      {"1001111", "", "no pattern for the code word \"1111\""},
      {"100" + long_code.substr(2), "", "no pattern for the code word \"" + long_code.substr(2) + "\""},
      {"100" + long_code + "11", "", "no pattern for the code word \"" + long_code + "11\""},
      {std::string(64, '1'), "", "no pattern for the code word \"" + std::string(64, '1') + "\""},
      {std::string(70, '1') + "001", "",
       "no pattern for the code word \"" + std::string(64, '1') + "...\" (70 bits)"},
  };
  for (const Row& row : rows) {
    std::string text = "kept";
    EXPECT_EQ(row.wrong, decode_line(decoder, row.line, text)) << row.line;
    EXPECT_EQ("kept" + row.text, text) << row.line;
  }
}

// What a code map keeps of its lines, and the lines it reports: blanks at
// either end are trimmed, a line that is not a code word, one space and a
// bracketed pattern is left out, and a repeated code or pattern keeps its
// first line.
TEST(CodeMap, ReadsValidLinesAndReportsTheOthers) {
  struct Row {
    std::string what;
    std::string bytes;
    std::vector<std::string> codes, patterns;
    std::string err;
  };
  const std::string bad = ": not a code word, a space and a <pattern>\n";
  const std::vector<Row> rows = {
      {"valid lines", "1 <a>\n11 <bc>\n101 <.com>\n", {"1", "11", "101"}, {"a", "bc", ".com"}, ""},
      {"blanks trimmed", "  1 <a>  \n\t11 <b c>\r\n", {"1", "11"}, {"a", "b c"}, ""},
      {"brackets inside", "1 <<>>\n", {"1"}, {"<>"}, ""},
      {"repeats keep the first", "1 <a>\n1 <b>\n11 <a>\n101 <c>\n", {"1", "101"}, {"a", "c"}, ""},
      {"not code map lines",
       "0 <a>\n10 <b>\n1001 <c>\n1 a\n1 <>\n1  <d>\n11\n\n1 <x>\n",
       {"1"},
       {"x"},
       "prog: map:1" + bad + "prog: map:2" + bad + "prog: map:3" + bad + "prog: map:4" + bad + "prog: map:5" +
           bad + "prog: map:6" + bad + "prog: map:7" + bad + "prog: map:8" + bad},
  };
  Scratch scratch;
  make_scratch(scratch, "code-map");
  set_program_name("prog");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    put_file(scratch, "map", row.bytes);
    WorkingDirectory work(scratch.dir);
    CodeMap map;
    testing::internal::CaptureStderr();
    EXPECT_TRUE(read_code_map("map", map));
    EXPECT_EQ(row.err, testing::internal::GetCapturedStderr());
    auto strings = [](const StringList& list) {
      std::vector<std::string> all;
      for (std::size_t i = 0; i < list.size(); ++i) all.emplace_back(list[i]);
      return all;
    };
    EXPECT_EQ(row.codes, strings(map.codes));
    EXPECT_EQ(row.patterns, strings(map.patterns));
  }
}

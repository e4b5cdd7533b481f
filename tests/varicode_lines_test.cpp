// encode_lines, the walk of several lines side by side that varicode encode
// runs, against encode_line one line at a time; and decode_line on the long
// lines that come out.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "patterntally.h"
#include "reference_tokenizer.h"
#include "varicode.h"

namespace fs = std::filesystem;

namespace {

struct LinesWorkDirectory {
  fs::path previous = fs::current_path();
  fs::path dir = fs::temp_directory_path() / ("varicode-lines-test-" + std::to_string(::getpid()));
  LinesWorkDirectory() {
    fs::create_directories(dir);
    fs::current_path(dir);
  }
  ~LinesWorkDirectory() {
    fs::current_path(previous);
    fs::remove_all(dir);
  }
};

void write_lines(const std::string& name, const std::vector<std::string>& patterns) {
  std::ofstream file(name, std::ios::binary);
  for (const std::string& p : patterns) file << '<' << p << ">\n";
}

// A code word of its own for each `i`: '1', then '1' for each 1 and "01" for
// each 0 of i + 1 after its first bit; `long_code` adds 48 bits.
std::string code_word(std::size_t i, bool long_code) {
  const std::size_t n = i + 1;
  int top = 0;
  while ((n >> (top + 1)) != 0) ++top;
  std::string code = "1";
  for (int bit = top - 1; bit >= 0; --bit) code += (n >> bit & 1) != 0 ? "1" : "01";
  for (int k = 0; long_code && k < 24; ++k) code += "01";
  return code;
}

}  // namespace

// Random definitions, with a valid blank now and then (a line that ends in
// one is walked alone), long code words (pops longer than a copy at a time),
// patterns without a code, lines past the side-by-side limit, and a last line
// without a line feed.
TEST(VaricodeLines, SideBySideAsLineByLine) {
  LinesWorkDirectory work;
  std::mt19937 rng(2024);
  auto random_text = [&](const std::string& alphabet, std::size_t length) {
    std::string text(length, ' ');
    for (char& c : text) c = alphabet[rng() % alphabet.size()];
    return text;
  };
  for (int round = 0; round < 24; ++round) {
    std::vector<std::string> valid = {"a", "b", "c", "d", "<", ">"};
    if (round % 3 == 0) valid.emplace_back(" ");
    std::vector<std::string> recurrent;
    for (int i = 0; i < 10; ++i) recurrent.push_back(random_text("abcd", 2 + rng() % 8));
    const std::vector<std::string> start = {"ab", "abc<"};
    write_lines(valid_chars_file, valid);
    write_lines(recurrent_file, recurrent);
    write_lines(start_file, start);
    std::vector<std::string> patterns = valid;
    patterns.insert(patterns.end(), recurrent.begin(), recurrent.end());
    std::ofstream map_lines(code_map_file, std::ios::binary);
    for (std::size_t i = 0; i < patterns.size(); ++i) {
      if (round % 2 == 1 && rng() % 8 == 0) continue;  // no code
      map_lines << code_word(i, rng() % 4 == 0) << " <" << patterns[i] << ">\n";
    }
    map_lines.close();
    CodeMap map;
    ASSERT_TRUE(read_code_map(code_map_file, map));
    const Coder coder = build_coder(map);
    const Decoder decoder = build_decoder(map);

    std::vector<std::string> lines;
    for (int i = 0; i < 400; ++i) lines.push_back(random_text("aaabbbcd<> \t\r#", rng() % 40));
    lines[rng() % lines.size()] = random_text("abcd", 70000);
    std::string block;
    for (const std::string& line : lines) block += line + '\n';
    if (round % 4 == 0) block.pop_back();  // the last line has no line feed

    std::string expected;
    std::vector<std::pair<std::size_t, std::string>> expected_uncoded;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      std::string bits;
      std::vector<Unwritten> uncoded;
      encode_line(coder, lines[i], bits, uncoded);
      expected += bits + '\n';
      for (const Unwritten& u : uncoded) expected_uncoded.emplace_back(i, (u.token ? "<" : "") + u.text);
    }
    std::string codes;
    std::vector<std::size_t> ends;
    std::vector<std::pair<std::size_t, std::string>> uncoded;
    encode_lines(coder, block, [&](const WrittenLines& coded) {
      for (const auto& [line, u] : coded.unwritten) {
        uncoded.emplace_back(ends.size() + line, (u.token ? "<" : "") + u.text);
      }
      for (const std::size_t end : coded.ends) ends.push_back(codes.size() + end);
      codes += coded.bytes;
    });
    ASSERT_EQ(lines.size(), ends.size());
    EXPECT_EQ(expected, codes);
    EXPECT_EQ(expected_uncoded, uncoded);

    for (std::size_t i = 0; i < lines.size(); ++i) {
      const std::size_t begin = i == 0 ? 0 : ends[i - 1];
      const std::string_view code(codes.data() + begin, ends[i] - begin - 1);
      if (code.empty()) continue;  // no token, or one without a code
      const ReferenceResult r = reference_tokenize(valid, recurrent, start, lines[i], 1);
      std::string text;
      for (const std::string& token : r.tokens) text += token;
      std::string decoded;
      EXPECT_EQ("", decode_line(decoder, code, decoded));
      EXPECT_EQ(text, decoded) << "line " << i;
    }
    if (::testing::Test::HasFailure()) return;
  }
}

// Encoding against the reference tokeniser and a lookup in the code map:
// encode_line a line at a time, encode_lines, the walk of several lines side
// by side that varicode encode runs, against encode_line; and decode_line on
// what comes out.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <optional>
#include <random>

#include "code_words.h"
#include "codec.h"
#include "patterntally.h"
#include "reference_tokenizer.h"
#include "test_support.h"

namespace {

// build_coder reads the definition files of the working directory: each test
// works in a scratch directory of its own.
struct WorkDirectory {
  Scratch scratch;
  std::optional<WorkingDirectory> in;
  WorkDirectory() {
    make_scratch(scratch, "encode");
    in.emplace(scratch.dir);
  }
};

// Writes `patterns` to the definition file `name`, one "<p>" a line.
void write_list(const std::string& name, const std::vector<std::string>& patterns) {
  std::ofstream out(name, std::ios::binary);
  for (const std::string& p : patterns) out << "<" << p << ">\n";
}

// What encode_line must give, from the reference tokeniser and a lookup in
// the code map: the code words joined by "00" (none when a token has no
// code), the invalid bytes, the tokens without a code, and the text that
// decoding gives back.
struct Encoded {
  std::string bits;
  std::string invalid;
  std::vector<std::string> no_code;
  std::string text;
};

Encoded reference_encode(const Definitions& d, const std::map<std::string, std::string>& code_of,
                         const std::string& line) {
  const ReferenceResult r = reference_tokenize(d.valid, d.recurrent, d.start, line, 1);
  Encoded e;
  for (const std::string& token : r.tokens) {
    const auto found = code_of.find(token);
    if (found == code_of.end()) {
      e.no_code.push_back(token);
      continue;
    }
    e.bits += (e.text.empty() ? "" : "00") + found->second;
    e.text += token;
  }
  if (!e.no_code.empty()) e.bits.clear();
  // Each message names its byte at the same place: - Invalid character "C" ...
  for (std::size_t at = 0; at < r.messages.size(); at = r.messages.find('\n', at) + 1) {
    e.invalid += r.messages[at + 21];
  }
  return e;
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

// Random definitions (nested and overlapping patterns, blanks and brackets
// among the valid bytes, start patterns), random code maps drawn from the
// code sequence with gaps, long codes and missing patterns, and random lines.
TEST(Encode, EncodesAsTheReferenceAndDecodesBack) {
  WorkDirectory work;
  std::mt19937 rng(4242);
  auto random_text = [&](const std::string& alphabet, std::size_t min_length, std::size_t max_length) {
    std::string text(min_length + rng() % (max_length - min_length + 1), ' ');
    for (char& c : text) c = alphabet[rng() % alphabet.size()];
    return text;
  };
  for (int round = 0; round < 200; ++round) {
    std::vector<std::string> valid;
    for (const char c : random_text("abcd<> \t", 2, 8)) valid.emplace_back(1, c);
    std::vector<std::string> recurrent;
    for (int i = static_cast<int>(rng() % 12); i > 0; --i) recurrent.push_back(random_text("abcd<>", 1, 7));
    std::vector<std::string> start;
    for (int i = static_cast<int>(rng() % 4); i > 0; --i) start.push_back(random_text("abcd", 1, 3));
    write_list(valid_chars_file, valid);
    write_list(recurrent_file, recurrent);
    write_list(start_file, start);
    // The lists as patterntally keeps them: patterns with invalid bytes and
    // repeats left out.
    Output ignored = memory_output();
    const Definitions d = read_definition_files(ignored);

    std::vector<std::string> patterns = d.valid;
    patterns.insert(patterns.end(), d.recurrent.begin(), d.recurrent.end());
    std::sort(patterns.begin(), patterns.end());
    patterns.erase(std::unique(patterns.begin(), patterns.end()), patterns.end());
    std::shuffle(patterns.begin(), patterns.end(), rng);
    std::map<std::string, std::string> code_of;
    std::string map_lines;
    std::string code;
    for (const std::string& p : patterns) {
      // Now and then far ahead, past the flat table of the decoder.
      for (auto skip = 1 + (rng() % 4 == 0 ? rng() % 40000 : 0); skip > 0; --skip) next_code(code);
      if (round % 2 == 1 && rng() % 6 == 0) continue;  // a pattern without a code
      code_of[p] = code;
      map_lines += code + " <" + p + ">\n";
    }
    std::ofstream(code_map_file, std::ios::binary) << map_lines;
    CodeMap map;
    ASSERT_TRUE(read_code_map(code_map_file, map));
    ASSERT_EQ(code_of.size(), map.codes.size());
    const Coder coder = build_coder(map);
    const Decoder decoder = build_decoder(map);

    for (int i = 0; i < 40; ++i) {
      std::string line = random_text("aabbcd<> \t\r#", 0, 30);
      if (!d.start.empty() && rng() % 3 == 0) line = d.start[rng() % d.start.size()] + line;
      if (rng() % 4 == 0) line = " " + line + "\r";
      const Encoded expected = reference_encode(d, code_of, line);
      std::string bits = "kept";
      std::vector<Unwritten> uncoded;
      EXPECT_EQ(expected.no_code.empty(), encode_line(coder, line, bits, uncoded));
      EXPECT_EQ("kept" + expected.bits, bits) << "line \"" << line << "\"";
      std::string invalid;
      std::vector<std::string> no_code;
      for (const Unwritten& u : uncoded) {
        if (u.token) {
          no_code.push_back(u.text);
        } else {
          EXPECT_EQ(1u, u.text.size());
          invalid += u.text;
        }
      }
      EXPECT_EQ(expected.invalid, invalid) << "line \"" << line << "\"";
      EXPECT_EQ(expected.no_code, no_code) << "line \"" << line << "\"";
      if (expected.no_code.empty()) {
        std::string text = "kept";
        EXPECT_EQ("", decode_line(decoder, bits.substr(4), text));
        EXPECT_EQ("kept" + expected.text, text) << "line \"" << line << "\"";
      }
    }
    if (::testing::Test::HasFailure()) return;
  }
}

// Random definitions, with a valid blank now and then (a line that ends in
// one is walked alone), long code words (pops longer than a copy at a time),
// patterns without a code, lines past the side-by-side limit, and a last line
// without a line feed.
TEST(Encode, SideBySideAsLineByLine) {
  WorkDirectory work;
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
    write_list(valid_chars_file, valid);
    write_list(recurrent_file, recurrent);
    write_list(start_file, start);
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

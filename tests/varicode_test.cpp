#include "varicode.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>

#include "code_words.h"
#include "patterntally.h"
#include "reference_tokenizer.h"

namespace fs = std::filesystem;

namespace {

// build_coder reads the definition files of the working directory: each test
// works in a directory of its own, left and removed at the end.
struct WorkDirectory {
  fs::path previous = fs::current_path();
  fs::path dir = fs::temp_directory_path() / ("varicode-test-" + std::to_string(::getpid()));
  WorkDirectory() {
    fs::create_directories(dir);
    fs::current_path(dir);
  }
  ~WorkDirectory() {
    fs::current_path(previous);
    fs::remove_all(dir);
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

}  // namespace

// Random definitions (nested and overlapping patterns, blanks and brackets
// among the valid bytes, start patterns), random code maps drawn from the
// code sequence with gaps, long codes and missing patterns, and random lines.
TEST(Varicode, EncodesAsTheReferenceAndDecodesBack) {
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

// Every way a line can fail to decode, each checked before the next: a byte
// other than '0'/'1', '0' at either end, "000", a code word not in the map.
// What was in the text stays as it was.
TEST(Varicode, DecodeRefusesMalformedLines) {
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

// Counts 5, 2, 1, 1, 1 (10 tokens). Huffman merges 1+1 (2 bits), 1+2 (3),
// 2+3 (5), 5+5 (10): 20 bits, the code lengths 1, 3, 3, 3, 3 or 1, 2, 3, 4,
// 4. Entropy: 5 log2(10/5) + 2 log2(10/2) + 3 log2(10/1) = 5 + 4.643856 +
// 9.965784 = 19.609640. Four equal counts take 2 bits each either way.
TEST(Varicode, ReportFigures) {
  EXPECT_EQ(20u, optimal_prefix_code_bits({1, 5, 0, 1, 2, 1}));
  EXPECT_NEAR(19.609640, entropy_bits({1, 5, 0, 1, 2, 1}), 1e-6);
  EXPECT_EQ(8u, optimal_prefix_code_bits({1, 1, 1, 1}));
  EXPECT_DOUBLE_EQ(8.0, entropy_bits({1, 1, 1, 1}));
  EXPECT_EQ(7u, optimal_prefix_code_bits({0, 7}));  // one token: one bit each
  EXPECT_DOUBLE_EQ(0.0, entropy_bits({0, 7}));
  EXPECT_EQ(0u, optimal_prefix_code_bits({}));

  // 37 bits over 4 websites of 12 bytes: 9.25, 3.00, 3.083; shares 22/37 and
  // 5/37.
  ReportFigures f{4, 10, 1, 37, 12, 20, 19.609640, {{".com", 2, 11, 22}, {"a", 5, 1, 5}}};
  EXPECT_EQ(
      "websites: 4\n"
      "tokens: 10\n"
      "skipped bytes: 1\n"
      "bits: 37\n"
      "bits per website: 9.25\n"
      "bytes per website: 3.00\n"
      "bits per byte: 3.083\n"
      "optimal prefix code bits per website: 5.00\n"
      "entropy bits per website: 4.90\n"
      "\n"
      "pattern  count  code length  bits   share\n"
      "<.com>       2           11    22  59.46%\n"
      "<a>          5            1     5  13.51%\n",
      format_report(f));
}

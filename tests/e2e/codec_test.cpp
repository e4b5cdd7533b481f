// varicode as a codec: packed streams against the text codes, damage refused,
// lossless set-ups from chars, and the options of the commands that write.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "test_support.h"

namespace fs = std::filesystem;

namespace {

RunResult run(const Scratch& s, const std::string& arguments) {
  return run_in(s, varicode, "", "", " " + arguments);
}

// The example, counted and coded, in a scratch directory.
void example(Scratch& s, const std::string& tag) {
  make_scratch(s, tag);
  for (const char* name :
       {"websites.txt", "patterns_valid_chars.txt", "patterns_recurrent.txt", "patterns_start.txt"}) {
    fs::copy_file(fs::path(EXAMPLES_DIR) / name, s.dir / name);
  }
}

void count_and_code(const Scratch& s) {
  ASSERT_EQ(0, run_in(s, patterntally, ">/dev/null").status);
  ASSERT_EQ(0, run_in(s, bitladder, ">/dev/null").status);
}

// The websites of websites.txt trimmed, a line each.
std::string trimmed_websites(const Scratch& s) {
  std::istringstream in(get_file(s, "websites.txt"));
  std::string out;
  for (std::string line; std::getline(in, line);) {
    const std::size_t begin = line.find_first_not_of(" \t\r");
    const std::size_t end = line.find_last_not_of(" \t\r");
    out += (begin == std::string::npos ? "" : line.substr(begin, end - begin + 1)) + "\n";
  }
  return out;
}

}  // namespace

TEST(Codec, PackedStreamsHoldTheTextCodesAndRefuseDamage) {
  Scratch s;
  example(s, "codec-packed");
  count_and_code(s);
  const RunResult text = run(s, "-j 1 encode websites.txt");
  const RunResult packed = run(s, "-j 1 encode --packed websites.txt");
  EXPECT_EQ(1, packed.status);  // the example has invalid bytes
  EXPECT_EQ(text.err, packed.err);
  EXPECT_EQ(1, run(s, "-j 3 encode --packed -o codes.bin websites.txt").status);
  EXPECT_EQ(packed.out, get_file(s, "codes.bin"));
  std::uint64_t bits = 0;
  std::uint64_t websites = 0;
  for (const char c : text.out) {
    bits += c == '\n' ? 3 : 1;
    websites += c == '\n' ? 1 : 0;
  }
  EXPECT_EQ(16 + (bits + 7) / 8 + 12, packed.out.size());
  put_file(s, "codes.txt", text.out);
  const RunResult decoded = run(s, "decode codes.txt");
  const RunResult unpacked = run(s, "decode --packed codes.bin");
  EXPECT_EQ(decoded.out, unpacked.out);
  EXPECT_EQ("", unpacked.err);
  EXPECT_EQ(0, unpacked.status);

  struct Row {
    std::string name;
    std::string bytes;
    std::string wrong;  // "" when only the start of the message is known
  };
  std::string flipped = packed.out;
  flipped[flipped.size() / 2] = static_cast<char>(flipped[flipped.size() / 2] ^ 0x10);
  const std::vector<Row> rows = {
      {"text", text.out, "not a packed stream of varicode"},
      {"empty", "", "not a packed stream of varicode"},
      {"header only", packed.out.substr(0, 16), "the stream ends early"},
      {"cut short", packed.out.substr(0, packed.out.size() - 1), ""},
      {"a flipped bit", flipped, ""},
      {"a code word past 64 bits", packed.out.substr(0, 16) + std::string(13, '\xff') + std::string(13, '\0'),
       "damaged at byte 16: no pattern for the code word \"" + std::string(64, '1') +
           "...\" (more than 64 bits)"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    put_file(s, "damaged.bin", row.bytes);
    const RunResult r = run(s, "decode --packed damaged.bin");
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("", r.out);  // damage may lie anywhere before it is seen: no website is trusted
    const std::string start = "varicode: cannot decode \"damaged.bin\": ";
    EXPECT_EQ(start, r.err.substr(0, start.size()));
    if (!row.wrong.empty()) {
      EXPECT_EQ(start + row.wrong + "\n", r.err);
    }
    put_file(s, "kept.txt", "old\n");
    EXPECT_EQ(1, run(s, "decode --packed -o kept.txt codes.bin damaged.bin").status);
    EXPECT_EQ("old\n", get_file(s, "kept.txt"));
  }
  // Another code map: refused before any website is written.
  put_file(s, "map_varicodes.txt", get_file(s, "map_varicodes.txt") + "1010101010101 <zz>\n");
  const RunResult other = run(s, "decode --packed codes.bin");
  EXPECT_EQ("", other.out);
  EXPECT_EQ("varicode: cannot decode \"codes.bin\": it was made with another code map\n", other.err);
}

TEST(Codec, CharsMakeASetUpInWhichEveryWebsiteComesBack) {
  Scratch s;
  example(s, "codec-chars");
  put_file(s, "patterns_valid_chars.txt", "old\n");
  ASSERT_EQ(0, run(s, "chars -o patterns_valid_chars.txt").status);
  put_file(s, "patterns_start.txt", "");
  ASSERT_EQ(0, run(s, "suggest 50 -o patterns_recurrent.txt").status);
  count_and_code(s);
  const RunResult encoded = run(s, "encode --packed -o codes.bin websites.txt");
  EXPECT_EQ(0, encoded.status);
  EXPECT_EQ("", encoded.err);  // nothing lost
  const RunResult decoded = run(s, "decode --packed codes.bin");
  EXPECT_EQ(0, decoded.status);
  EXPECT_EQ("", decoded.err);
  EXPECT_EQ(trimmed_websites(s), decoded.out);

  // Every command writes with -o, replacing the file only when the run went
  // well; usage errors touch nothing.
  put_file(s, "report.txt", "old\n");
  ASSERT_EQ(0, run(s, "report --top=3 -o report.txt").status);
  const std::string report = get_file(s, "report.txt");
  EXPECT_NE(std::string::npos, report.find("packed bytes per website: "));
  EXPECT_EQ(3, std::count(report.begin(), report.end(), '<'));
  ASSERT_EQ(0, run(s, "report --json -o report.json").status);
  EXPECT_TRUE(get_file(s, "report.json").starts_with("{\n  \"websites\": 2000,\n"));
  fs::rename(s.dir / "map_varicodes.txt", s.dir / "map.txt");
  EXPECT_EQ(1, run(s, "report -o report.txt").status);
  EXPECT_EQ(1, run(s, "decode --packed -o report.txt codes.bin").status);
  for (const char* usage : {"report --packed", "encode --json", "decode --top=3", "report --top=x",
                            "report --top=", "decode --top="}) {
    EXPECT_EQ(2, run(s, std::string(usage) + " -o report.txt").status) << usage;
  }
  EXPECT_EQ(report, get_file(s, "report.txt"));
}

// The figures and the text of varicode report.
#include <gtest/gtest.h>

#include "codec.h"

// Counts 5, 2, 1, 1, 1 (10 tokens). Huffman merges 1+1 (2 bits), 1+2 (3),
// 2+3 (5), 5+5 (10): 20 bits, the code lengths 1, 3, 3, 3, 3 or 1, 2, 3, 4,
// 4. Entropy: 5 log2(10/5) + 2 log2(10/2) + 3 log2(10/1) = 5 + 4.643856 +
// 9.965784 = 19.609640. Four equal counts take 2 bits each either way.
TEST(Report, ReportFigures) {
  EXPECT_EQ(20u, optimal_prefix_code_bits({1, 5, 0, 1, 2, 1}));
  EXPECT_NEAR(19.609640, entropy_bits({1, 5, 0, 1, 2, 1}), 1e-6);
  EXPECT_EQ(8u, optimal_prefix_code_bits({1, 1, 1, 1}));
  EXPECT_DOUBLE_EQ(8.0, entropy_bits({1, 1, 1, 1}));
  EXPECT_EQ(7u, optimal_prefix_code_bits({0, 7}));  // one token: one bit each
  EXPECT_DOUBLE_EQ(0.0, entropy_bits({0, 7}));
  EXPECT_EQ(0u, optimal_prefix_code_bits({}));

  // 37 bits over 4 websites of 12 bytes: 9.25, 3.00, 3.083; shares 22/37 and
  // 5/37.
  ReportFigures f{4,
                  10,
                  1,
                  37,
                  12,
                  20,
                  19.609640,
                  35,
                  120,
                  9,
                  {{".com", 2, 11, 22}, {"a\"\x01\xe2\x82\xac\xff", 5, 1, 5}}};
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
      "packed bytes per website: 8.75\n"
      "code map bytes: 120\n"
      "code map bits: 9\n"
      "\n"
      "pattern    count  code length  bits   share\n"
      "<.com>         2           11    22  59.46%\n"
      "<a\"\x01\xe2\x82\xac\xff>      5            1     5  13.51%\n",
      format_report(f));
  // The same figures as JSON; a byte that is not UTF-8 stands as \u00XX.
  EXPECT_EQ(
      "{\n  \"websites\": 4,\n  \"tokens\": 10,\n  \"skipped_bytes\": 1,\n  \"bits\": 37,\n  \"bytes\": 12,\n"
      "  \"bits_per_website\": 9.25,\n  \"bytes_per_website\": 3.00,\n  \"bits_per_byte\": 3.083,\n"
      "  \"optimal_prefix_code_bits\": 20,\n  \"optimal_prefix_code_bits_per_website\": 5.00,\n"
      "  \"entropy_bits\": 19.61,\n  \"entropy_bits_per_website\": 4.90,\n  \"packed_bytes\": 35,\n"
      "  \"packed_bytes_per_website\": 8.75,\n  \"code_map_bytes\": 120,\n  \"code_map_bits\": 9,\n"
      "  \"costliest\": [\n"
      "    {\"pattern\": \".com\", \"count\": 2, \"code_length\": 11, \"bits\": 22, \"share\": 59.46},\n"
      "    {\"pattern\": \"a\\\"\\u0001\xe2\x82\xac\\u00ff\", \"count\": 5, \"code_length\": 1, \"bits\": 5, "
      "\"share\": 13.51}\n  ]\n}\n",
      format_report_json(f));
  f.costliest.clear();
  EXPECT_TRUE(format_report_json(f).ends_with("\"costliest\": []\n}\n"));
}

TEST(Report, CharsListsEveryByteMostFrequentFirst) {
  std::array<std::uint64_t, 256> counts{};
  counts['a'] = 3;
  counts['<'] = 5;
  counts['\r'] = 3;
  counts[0xff] = 1;
  EXPECT_EQ("<<>\n<\r>\n<a>\n<\xff>\n", valid_chars_list(counts));
}

// Small counts worked out by hand: {1, 2} merges once, 3 bits, and has
// 1 log2(3) + 2 log2(3/2) = 1.584963 + 1.169925 bits; {1, 1, 2} merges 1+1
// (2) and 2+2 (4): 6 bits, 2 log2(4) + 2 log2(2) = 6; {1, 1, 1} merges 1+1
// and 1+2: 5 bits, 3 log2(3) = 4.754888. An empty corpus reports zeros and
// no table.
TEST(Report, SmallCountsAndAnEmptyCorpus) {
  struct Row {
    std::vector<std::uint64_t> counts;
    std::uint64_t optimal;
    double entropy;
  };
  const Row rows[] = {
      {{}, 0, 0.0},          {{0, 0}, 0, 0.0},    {{3, 3}, 6, 6.0},
      {{1, 2}, 3, 2.754888}, {{1, 1, 2}, 6, 6.0}, {{1, 1, 1}, 5, 4.754888},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(row.optimal, optimal_prefix_code_bits(row.counts)) << row.counts.size() << " counts";
    EXPECT_NEAR(row.entropy, entropy_bits(row.counts), 1e-6) << row.counts.size() << " counts";
  }
  EXPECT_EQ(
      "websites: 0\n"
      "tokens: 0\n"
      "skipped bytes: 0\n"
      "bits: 0\n"
      "bits per website: 0.00\n"
      "bytes per website: 0.00\n"
      "bits per byte: 0.000\n"
      "optimal prefix code bits per website: 0.00\n"
      "entropy bits per website: 0.00\n"
      "packed bytes per website: 0.00\n"
      "code map bytes: 0\n"
      "code map bits: 0\n",
      format_report(ReportFigures{}));
}

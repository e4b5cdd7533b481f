// The figures and the text of varicode report.
#include <gtest/gtest.h>

#include "varicode.h"

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
      "entropy bits per website: 0.00\n",
      format_report(ReportFigures{}));
}

#include "packed.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "code_words.h"
#include "messages.h"

namespace {

// A code map of `size` code words, pattern i being "p<i>.".
CodeMap numbered_map(std::size_t size) {
  CodeMap map;
  std::string code;
  for (std::size_t i = 0; i < size; ++i) {
    next_code(code);
    map.codes.push_back(code);
    map.patterns.push_back("p" + std::to_string(i) + ".");
  }
  return map;
}

// Websites as code word indexes.
using Websites = std::vector<std::vector<std::size_t>>;

// The text form of `websites`, and what decoding it gives.
std::pair<std::string, std::string> text_form(const CodeMap& map, const Websites& websites) {
  std::string codes;
  std::string text;
  for (const auto& website : websites) {
    for (std::size_t i = 0; i < website.size(); ++i) {
      if (i != 0) codes += "00";
      codes += map.codes[website[i]];
      text += map.patterns[website[i]];
    }
    codes += '\n';
    text += '\n';
  }
  return {codes, text};
}

// Packs `codes` given in pieces of at most `piece` bytes.
std::string pack(std::string_view codes, std::size_t piece, std::uint64_t digest = 7) {
  PackedWriter writer;
  start_packing(writer, digest);
  for (std::size_t at = 0; at < codes.size(); at += piece) pack_codes(writer, codes.substr(at, piece));
  finish_packing(writer);
  return writer.bytes;
}

// Decodes `stream` given in pieces of at most `piece` bytes: the text, or
// "wrong: " and what is wrong.
std::string unpack_all(const Decoder& decoder, std::string_view stream, std::size_t piece,
                       std::uint64_t digest = 7) {
  PackedReader reader;
  reader.digest = digest;
  std::string text;
  for (std::size_t at = 0; at < stream.size(); at += piece) {
    const std::string wrong = unpack(reader, decoder, stream.substr(at, piece), text);
    if (!wrong.empty()) return "wrong: " + wrong;
  }
  const std::string wrong = finish_unpacking(reader, decoder, text);
  return wrong.empty() ? text : "wrong: " + wrong;
}

std::size_t bit_count(std::string_view codes) {
  std::size_t bits = 0;
  for (const char c : codes) bits += c == '\n' ? 3 : 1;
  return bits;
}

// A stream of `body` bits ("0" and "1") and `count` websites, with a right
// CRC.
std::string forged(std::string_view body_bits, std::uint64_t count) {
  PackedWriter writer;
  start_packing(writer, 7);
  pack_codes(writer, body_bits);
  writer.websites = count;
  finish_packing(writer);
  return writer.bytes;
}

TEST(Packed, DigestAndChecksumAreTheStandardOnes) {
  EXPECT_EQ(0xcbf43926u, crc32(0, "123456789"));
  EXPECT_EQ(0xcbf43926u, crc32(crc32(0, "1234"), "56789"));
  const std::string long_text(1000, 'x');
  EXPECT_EQ(crc32(crc32(0, long_text.substr(0, 13)), long_text.substr(13)), crc32(0, long_text));
  EXPECT_EQ(0xaf63dc4c8601ec8cu, map_digest("a"));
  EXPECT_EQ(map_digest("ab"), map_digest("b", map_digest("a")));
}

TEST(Packed, RoundTripsInAnyPiecesAtTheSizeItPromises) {
  const CodeMap map = numbered_map(3000);  // code words up to 17 bits
  const Decoder decoder = build_decoder(map);
  std::mt19937 random(5);
  for (int round = 0; round < 200; ++round) {
    Websites websites(random() % 40);
    for (auto& website : websites) {
      website.resize(random() % 6);  // some empty
      for (auto& code : website) code = random() % (random() % 2 == 0 ? 8 : map.codes.size());
    }
    const auto [codes, text] = text_form(map, websites);
    const std::string stream = pack(codes, 1 + random() % 50);
    ASSERT_EQ(stream, pack(codes, codes.size() + 1));
    EXPECT_EQ(stream.size(), packed_header_size + (bit_count(codes) + 7) / 8 + packed_trailer_size);
    EXPECT_EQ(text, unpack_all(decoder, stream, 1 + random() % 20)) << codes;
  }
}

TEST(Packed, EveryDamageIsRefused) {
  const CodeMap map = numbered_map(20);
  const Decoder decoder = build_decoder(map);
  const auto [codes, text] = text_form(map, {{0, 4, 19}, {}, {2}, {7, 7, 7, 7}});
  const std::string stream = pack(codes, 1000);
  ASSERT_EQ(text, unpack_all(decoder, stream, 1000));

  // Every shorter stream, every flipped bit.
  for (std::size_t size = 0; size < stream.size(); ++size) {
    EXPECT_EQ("wrong: ", unpack_all(decoder, stream.substr(0, size), 3).substr(0, 7)) << size;
  }
  for (std::size_t bit = 0; bit < stream.size() * 8; ++bit) {
    std::string damaged = stream;
    damaged[bit / 8] = static_cast<char>(damaged[bit / 8] ^ (0x80 >> bit % 8));
    EXPECT_EQ("wrong: ", unpack_all(decoder, damaged, 5).substr(0, 7)) << bit;
  }

  struct Row {
    std::string stream;
    std::string wrong;
  };
  std::string version = stream;
  version[7] = 2;
  const std::vector<Row> rows = {
      {"", std::string(not_a_packed_stream)},
      {"1\n11\n", std::string(not_a_packed_stream)},
      {stream.substr(0, 10), std::string(stream_ends_early)},
      {stream.substr(0, 20), std::string(stream_ends_early)},
      {version, other_version_problem(2, 1)},
      {pack(codes, 1000, 8), std::string(other_code_map)},
      {forged("100001", 1), damaged_problem(16, zero_run_problem(4))},
      {forged("001", 0), damaged_problem(16, zero_run_problem(2))},
      {forged("1001000", 2), website_count_problem(2)},
      {forged("1", 0), website_count_problem(0)},
      {forged("1000000000", 1), website_count_problem(1)},  // the run ends more websites
      {forged(std::string(40, '1'), 0), damaged_problem(16, no_pattern_problem(std::string(40, '1')))},
  };
  for (const Row& row : rows) EXPECT_EQ("wrong: " + row.wrong, unpack_all(decoder, row.stream, 4));
}

TEST(Packed, LongRunsAreReadOnceInLittleMemory) {
  const CodeMap map = numbered_map(3);
  const Decoder decoder = build_decoder(map);
  // 8,000,001 empty websites and one of a pattern, given 64 KiB at a time.
  const std::string stream = pack(std::string(8000001, '\n') + "1\n", 1 << 20);
  PackedReader reader;
  reader.digest = 7;
  std::string text;
  std::size_t most = 0;
  std::size_t bytes = 0;
  for (std::size_t at = 0; at < stream.size(); at += 1 << 16) {
    ASSERT_EQ("", unpack(reader, decoder, std::string_view(stream).substr(at, 1 << 16), text));
    most = std::max(most, reader.body.size());
    bytes += text.size();
    EXPECT_EQ(std::string::npos, text.find_first_not_of('\n'));
    text.clear();
  }
  ASSERT_EQ("", finish_unpacking(reader, decoder, text));
  EXPECT_EQ(8000001 + 4, bytes + text.size());
  EXPECT_TRUE(text.ends_with("p0.\n"));
  EXPECT_EQ(8000002u, reader.websites);
  EXPECT_LT(most, std::size_t{1} << 18);
}

TEST(Packed, EmptyWebsitesAndFillingBitsAreToldApartByTheCount) {
  const CodeMap map = numbered_map(3);
  const Decoder decoder = build_decoder(map);
  for (std::size_t empty = 0; empty < 12; ++empty) {
    const std::string codes(empty, '\n');
    EXPECT_EQ(codes, unpack_all(decoder, pack(codes, 2), 1)) << empty;
  }
  EXPECT_EQ("p0.\n\n", unpack_all(decoder, pack("1\n\n", 1), 1));
}

}  // namespace

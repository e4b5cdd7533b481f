// The code map, and decoding with it.
#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <string>
#include <unordered_set>

#include "codec.h"
#include "messages.h"
#include "trim.h"

bool read_code_map_line(std::string_view line, std::string_view& code, std::string_view& pattern) {
  line = trim_view(line);
  const std::size_t space = line.find(' ');
  code = line.substr(0, space);
  const std::string_view key = space == std::string_view::npos ? "" : line.substr(space + 1);
  if (!is_code_word(code) || key.size() < 3 || key.front() != '<' || key.back() != '>') return false;
  pattern = key.substr(1, key.size() - 2);
  return true;
}

std::string code_map_from_bytes(std::string_view name, std::string_view bytes, CodeMap& map) {
  std::unordered_set<std::string_view> codes;
  std::unordered_set<std::string_view> patterns;
  std::uint64_t number = 0;
  while (!bytes.empty()) {
    const std::size_t lf = bytes.find('\n');
    const std::string_view line = bytes.substr(0, lf);
    bytes.remove_prefix(lf == std::string_view::npos ? bytes.size() : lf + 1);
    ++number;
    std::string_view code;
    std::string_view pattern;
    if (!read_code_map_line(line, code, pattern)) return line_problem(name, number, not_a_code_map_line);
    if (!codes.insert(code).second || !patterns.insert(pattern).second) continue;
    map.codes.emplace_back(code);
    map.patterns.emplace_back(pattern);
  }
  return "";
}

namespace {

// Codes of up to this many bits are found in a flat table.
constexpr std::size_t short_code_bits = 20;

std::uint64_t value_of(std::string_view code) {
  std::uint64_t value = 0;
  for (const char bit : code) value = value << 1 | static_cast<std::uint64_t>(bit - '0');
  return value;
}

}  // namespace

Decoder build_decoder(const CodeMap& map) {
  Decoder decoder;
  decoder.patterns = map.patterns;
  std::size_t longest_short = 0;
  for (const std::string& code : map.codes) {
    if (code.size() <= short_code_bits) longest_short = std::max(longest_short, code.size());
  }
  decoder.short_codes.assign(std::size_t{1} << longest_short, 0);
  for (std::size_t i = 0; i < map.codes.size(); ++i) {
    const std::uint64_t value = value_of(map.codes[i]);
    const auto index = static_cast<std::uint32_t>(i + 1);
    if (map.codes[i].size() <= short_code_bits) {
      decoder.short_codes[value] = index;
    } else {
      decoder.long_codes.emplace(value, index);
    }
  }
  return decoder;
}

std::uint32_t find_code(const Decoder& decoder, std::uint64_t value, std::size_t size) {
  if (size <= short_code_bits) return value < decoder.short_codes.size() ? decoder.short_codes[value] : 0;
  const auto found = decoder.long_codes.find(value);
  return found != decoder.long_codes.end() ? found->second : 0;
}

namespace {

// decode_line one check at a time: what it answers for any line that the
// fast pass turns down.
std::string decode_line_checked(const Decoder& decoder, std::string_view line, std::string& text) {
  if (line.empty()) return "";
  const std::size_t other = line.find_first_not_of("01");
  if (other != std::string_view::npos) return invalid_character_problem(line.substr(other, 1));
  if (line.front() == '0') return std::string(begins_with_zero);
  if (line.back() == '0') return std::string(ends_with_zero);
  if (line.find("000") != std::string_view::npos) return std::string(holds_three_zeros);
  const std::size_t kept = text.size();
  std::size_t begin = 0;
  while (begin < line.size()) {
    std::size_t end = line.find("00", begin);
    if (end == std::string_view::npos) end = line.size();
    const std::string_view code = line.substr(begin, end - begin);
    const std::uint32_t index =
        code.size() <= longest_code ? find_code(decoder, value_of(code), code.size()) : 0;
    if (index == 0) {
      text.resize(kept);
      return no_pattern_problem(code);
    }
    text += decoder.patterns[index - 1];
    begin = end + 2;
  }
  return "";
}

// A line as bits, '1' as 1, the first byte in the highest bit of words[0]:
// 64 bytes a word, with zero bits after the line and a whole word of them
// last. False when a byte is neither '0' nor '1'.
bool pack_bits(std::string_view line, std::vector<std::uint64_t>& words) {
  words.assign(line.size() / 64 + 2, 0);
  constexpr std::uint64_t zeros = 0x3030303030303030;  // "00000000"
  constexpr std::uint64_t low_bits = 0x0101010101010101;
  // Multiplying by it moves the lowest bit of each byte into the highest byte,
  // without carries, in the order that bytes stand in memory.
  constexpr std::uint64_t gather =
      std::endian::native == std::endian::little ? 0x8040201008040201 : 0x0102040810204080;
  std::uint64_t stray = 0;  // bits other than the lowest of each byte, once '0' is taken away
  auto put = [&](std::size_t at, std::uint64_t eight) {
    eight ^= zeros;
    stray |= eight & ~low_bits;
    // The first of the eight bytes to bit 7, the last to bit 0.
    const std::uint64_t byte = ((eight & low_bits) * gather) >> 56;
    words[at / 64] |= byte << (56 - at % 64);
  };
  std::size_t at = 0;
  std::uint64_t eight = 0;
  for (; at + 8 <= line.size(); at += 8) {
    std::memcpy(&eight, line.data() + at, 8);
    put(at, eight);
  }
  if (at < line.size()) {
    eight = zeros;
    std::memcpy(&eight, line.data() + at, line.size() - at);
    put(at, eight);
  }
  return stray == 0;
}

// The 64 bits from bit `at` on.
std::uint64_t bits_at(const std::vector<std::uint64_t>& words, std::size_t at) {
  const std::size_t shift = at % 64;
  const std::uint64_t first = words[at / 64];
  return shift == 0 ? first : first << shift | words[at / 64 + 1] >> (64 - shift);
}

}  // namespace

std::string decode_line(const Decoder& decoder, std::string_view line, std::string& text) {
  // The fast pass: the line as bits, each code word's end found by the first
  // two zero bits in a row. It gives up, keeping nothing, at whatever the
  // checked decoding would say more about than a pattern.
  thread_local std::vector<std::uint64_t> words;
  if (line.empty()) return "";
  if (line.back() != '1' || !pack_bits(line, words)) return decode_line_checked(decoder, line, text);
  const std::size_t kept = text.size();
  for (std::size_t at = 0; at < line.size();) {
    const std::uint64_t bits = bits_at(words, at);
    const std::uint64_t zero = ~bits;
    const std::uint64_t pairs = zero & zero << 1;  // bit 63 - i: bytes i and i + 1 are '0'
    // The code word begins with '1' (else the line begins with "0" or holds
    // "000"), and its end is in sight (else it is longer than any code).
    if ((bits >> 63) == 0 || pairs == 0) break;
    const auto size = static_cast<std::size_t>(std::countl_zero(pairs));
    const std::uint64_t value = bits >> (64 - size);
    const std::uint32_t index = find_code(decoder, value, size);
    if (index == 0) break;
    text += decoder.patterns[index - 1];
    at += size + 2;
    if (at >= line.size()) return "";
  }
  text.resize(kept);
  return decode_line_checked(decoder, line, text);
}

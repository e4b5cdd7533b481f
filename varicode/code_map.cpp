// The code map, and decoding with it.
#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

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

namespace {

std::uint64_t value_of(std::string_view code) {
  std::uint64_t value = 0;
  for (const char bit : code) value = value << 1 | static_cast<std::uint64_t>(bit - '0');
  return value;
}

// Spreads the bits of a code word's value over the top bits, which name its
// slot (Fibonacci hashing).
std::uint64_t hash_of_value(std::uint64_t value) { return value * 0x9E3779B97F4A7C15; }

}  // namespace

namespace {

// Adds `value` to the code words seen; false when it stood before.
bool add_code_value(CodeMapIndex& index, const CodeMap& map, std::uint64_t value) {
  auto add = [&](std::uint64_t code) {
    bool added = false;
    const std::size_t slot = find_or_add(
        index.codes, hash_of_value(code), [&](std::uint64_t seen) { return seen == code; },
        [](std::uint64_t seen, unsigned) { return hash_of_value(seen); }, added);
    if (added) index.codes.slots[slot] = code;
    return added;
  };
  if (index.in_order) {
    if (index.last < value) {
      index.last = value;
      return true;
    }
    index.in_order = false;
    clear(index.codes, map.codes.size() + index.left_out.size());
    for (std::size_t i = 0; i < map.codes.size(); ++i) add(value_of(map.codes[i]));
    for (const std::uint64_t seen : index.left_out) add(seen);
    std::vector<std::uint64_t>().swap(index.left_out);
  }
  return add(value);
}

}  // namespace

void add_to_code_map(CodeMapIndex& index, CodeMap& map, std::string_view code, std::string_view pattern) {
  // A line whose code word stood before is left out; so is one whose pattern
  // did, its code word counting as seen all the same.
  const std::uint64_t value = value_of(code);
  if (!add_code_value(index, map, value)) return;
  const std::uint64_t hash = std::hash<std::string_view>{}(pattern);
  const std::uint64_t top = hash & 0xFFFFFFFF00000000;
  bool added = false;
  const std::size_t slot = find_or_add(
      index.patterns, hash,
      [&](std::uint64_t seen) {
        return (seen & 0xFFFFFFFF00000000) == top && map.patterns[(seen & 0xFFFFFFFF) - 1] == pattern;
      },
      [&](std::uint64_t seen, unsigned) {
        return std::hash<std::string_view>{}(map.patterns[(seen & 0xFFFFFFFF) - 1]);
      },
      added);
  if (!added) {
    if (index.in_order) index.left_out.push_back(value);
    return;
  }
  map.codes.push_back(code);
  map.patterns.push_back(pattern);
  index.patterns.slots[slot] = top | map.patterns.size();
}

std::string code_map_from_bytes(std::string_view name, std::string_view bytes, CodeMap& map) {
  // A first pass finds the first line that is wrong and makes room for
  // every line, so that nothing grows on the way.
  auto each_line = [](std::string_view all, auto&& take) {
    for (bool going = true; going && !all.empty();) going = take(take_line(all));
  };
  std::uint64_t lines = 0;
  std::size_t code_bytes = 0;
  std::size_t pattern_bytes = 0;
  std::string problem;
  each_line(bytes, [&](std::string_view line) {
    ++lines;
    std::string_view code;
    std::string_view pattern;
    if (!read_code_map_line(line, code, pattern)) {
      problem = line_problem(name, lines, not_a_code_map_line);
      return false;
    }
    code_bytes += code.size();
    pattern_bytes += pattern.size();
    return true;
  });
  if (!problem.empty()) return problem;
  CodeMapIndex index;
  clear(index.patterns, lines);
  map.codes.reserve(lines, code_bytes);
  map.patterns.reserve(lines, pattern_bytes);
  each_line(bytes, [&](std::string_view line) {
    std::string_view code;
    std::string_view pattern;
    read_code_map_line(line, code, pattern);
    add_to_code_map(index, map, code, pattern);
    return true;
  });
  return "";
}

namespace {

// Codes of up to this many bits are found in a flat table.
constexpr std::size_t short_code_bits = 20;

}  // namespace

Decoder build_decoder(const CodeMap& map) {
  CodeMap codes{map.codes, {}};
  Decoder decoder = build_decoder(std::move(codes));
  decoder.patterns = map.patterns;
  return decoder;
}

Decoder build_decoder(CodeMap&& map) {
  Decoder decoder;
  decoder.patterns = std::move(map.patterns);
  std::size_t longest_short = 0;
  for (std::size_t i = 0; i < map.codes.size(); ++i) {
    const std::size_t size = map.codes[i].size();
    if (size <= short_code_bits) longest_short = std::max(longest_short, size);
  }
  decoder.short_codes.assign(std::size_t{1} << longest_short, 0);
  std::vector<std::pair<std::uint64_t, std::uint32_t>> long_codes;
  for (std::size_t i = 0; i < map.codes.size(); ++i) {
    const std::uint64_t value = value_of(map.codes[i]);
    const auto index = static_cast<std::uint32_t>(i + 1);
    if (map.codes[i].size() <= short_code_bits) {
      decoder.short_codes[value] = index;
    } else {
      long_codes.emplace_back(value, index);
    }
  }
  std::sort(long_codes.begin(), long_codes.end());
  decoder.long_values.reserve(long_codes.size());
  decoder.long_indexes.reserve(long_codes.size());
  for (const auto& [value, index] : long_codes) {
    decoder.long_values.push_back(value);
    decoder.long_indexes.push_back(index);
  }
  return decoder;
}

std::uint32_t find_code(const Decoder& decoder, std::uint64_t value, std::size_t size) {
  if (size <= short_code_bits) return value < decoder.short_codes.size() ? decoder.short_codes[value] : 0;
  const auto found = std::lower_bound(decoder.long_values.begin(), decoder.long_values.end(), value);
  if (found == decoder.long_values.end() || *found != value) return 0;
  return decoder.long_indexes[static_cast<std::size_t>(found - decoder.long_values.begin())];
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

// The code map, and decoding with it.
#include <cerrno>
#include <string>
#include <unordered_set>

#include "failure.h"
#include "line_reader.h"
#include "trim.h"
#include "varicode.h"

bool is_code_word(std::string_view code) {
  return !code.empty() && code.size() <= longest_code && code.front() == '1' && code.back() == '1' &&
         code.find_first_not_of("01") == std::string_view::npos && code.find("00") == std::string_view::npos;
}

bool read_code_map(const std::string& name, CodeMap& map) {
  LineReader reader = open_lines(name, true);
  if (reader.file == nullptr) return false;
  std::unordered_set<std::string> codes;
  std::unordered_set<std::string> patterns;
  std::string_view line;
  std::uint64_t number = 0;
  while (next_line(reader, line)) {
    ++number;
    line = trim_view(line);
    const std::size_t space = line.find(' ');
    const std::string_view code = line.substr(0, space);
    const std::string_view key = space == std::string_view::npos ? "" : line.substr(space + 1);
    if (!is_code_word(code) || key.size() < 3 || key.front() != '<' || key.back() != '>') {
      report_problem(name + ":" + std::to_string(number) + ": not a code word, a space and a <pattern>");
      continue;
    }
    std::string pattern(key.substr(1, key.size() - 2));
    if (!codes.emplace(code).second || !patterns.insert(pattern).second) continue;
    map.codes.emplace_back(code);
    map.patterns.push_back(std::move(pattern));
  }
  close_lines(reader);
  return true;
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
  Decoder d;
  d.patterns = map.patterns;
  std::size_t longest_short = 0;
  for (const std::string& code : map.codes) {
    if (code.size() <= short_code_bits) longest_short = std::max(longest_short, code.size());
  }
  d.short_codes.assign(std::size_t{1} << longest_short, 0);
  for (std::size_t i = 0; i < map.codes.size(); ++i) {
    const std::uint64_t value = value_of(map.codes[i]);
    const auto index = static_cast<std::uint32_t>(i + 1);
    if (map.codes[i].size() <= short_code_bits) {
      d.short_codes[value] = index;
    } else {
      d.long_codes.emplace(value, index);
    }
  }
  return d;
}

std::string decode_line(const Decoder& decoder, std::string_view line, std::string& text) {
  if (line.empty()) return "";
  const std::size_t other = line.find_first_not_of("01");
  if (other != std::string_view::npos) {
    std::string what = "invalid character \"";
    what += line[other];
    return what + '"';
  }
  if (line.front() == '0') return "begins with \"0\"";
  if (line.back() == '0') return "ends with \"0\"";
  if (line.find("000") != std::string_view::npos) return "holds \"000\"";
  const std::size_t kept = text.size();
  std::size_t begin = 0;
  while (begin < line.size()) {
    std::size_t end = line.find("00", begin);
    if (end == std::string_view::npos) end = line.size();
    const std::string_view code = line.substr(begin, end - begin);
    std::uint32_t index = 0;
    if (code.size() <= short_code_bits) {
      const std::uint64_t value = value_of(code);
      if (value < decoder.short_codes.size()) index = decoder.short_codes[value];
    } else if (code.size() <= longest_code) {
      const auto found = decoder.long_codes.find(value_of(code));
      if (found != decoder.long_codes.end()) index = found->second;
    }
    if (index == 0) {
      text.resize(kept);
      std::string what = "no pattern for the code word \"";
      what += code;
      return what + '"';
    }
    text += decoder.patterns[index - 1];
    begin = end + 2;
  }
  return "";
}

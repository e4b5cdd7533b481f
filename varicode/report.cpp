// What the websites of a corpus cost in bits, against the bounds of their
// token counts.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <queue>

#include "codec.h"

std::uint64_t optimal_prefix_code_bits(std::vector<std::uint64_t> counts) {
  std::erase(counts, 0);
  if (counts.size() == 1) return counts.front();
  // Huffman: each merge of the two rarest adds their counts, one more bit each.
  std::priority_queue<std::uint64_t, std::vector<std::uint64_t>, std::greater<>> rarest(counts.begin(),
                                                                                        counts.end());
  std::uint64_t bits = 0;
  while (rarest.size() > 1) {
    const std::uint64_t a = rarest.top();
    rarest.pop();
    const std::uint64_t b = rarest.top();
    rarest.pop();
    bits += a + b;
    rarest.push(a + b);
  }
  return bits;
}

double entropy_bits(const std::vector<std::uint64_t>& counts) {
  long double total = 0;
  for (const std::uint64_t count : counts) total += static_cast<long double>(count);
  long double bits = 0;
  for (const std::uint64_t count : counts) {
    if (count == 0) continue;
    const auto c = static_cast<long double>(count);
    bits += c * std::log2(total / c);
  }
  return static_cast<double>(bits);
}

namespace {

std::string fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

double ratio(double a, std::uint64_t b) { return b == 0 ? 0.0 : a / static_cast<double>(b); }

std::string padded(const std::string& text, std::size_t width, bool left) {
  const std::string pad(text.size() < width ? width - text.size() : 0, ' ');
  return left ? text + pad : pad + text;
}

}  // namespace

std::string format_report(const ReportFigures& f) {
  const auto bits = static_cast<double>(f.bits);
  std::string out;
  auto line = [&](const char* name, const std::string& value) {
    out += name;
    out += ": ";
    out += value;
    out += '\n';
  };
  line("websites", std::to_string(f.websites));
  line("tokens", std::to_string(f.tokens));
  line("skipped bytes", std::to_string(f.skipped_bytes));
  line("bits", std::to_string(f.bits));
  line("bits per website", fixed(ratio(bits, f.websites), 2));
  line("bytes per website", fixed(ratio(static_cast<double>(f.bytes), f.websites), 2));
  line("bits per byte", fixed(ratio(bits, f.bytes), 3));
  line("optimal prefix code bits per website",
       fixed(ratio(static_cast<double>(f.optimal_prefix_bits), f.websites), 2));
  line("entropy bits per website", fixed(ratio(f.entropy_bits, f.websites), 2));
  line("packed bytes per website", fixed(ratio(static_cast<double>(f.packed_bytes), f.websites), 2));
  line("code map bytes", std::to_string(f.map_bytes));
  line("code map bits", std::to_string(f.map_bits));
  if (f.costliest.empty()) return out;
  // The costliest patterns, in columns: the pattern as in the code map.
  std::vector<std::vector<std::string>> rows = {{"pattern", "count", "code length", "bits", "share"}};
  for (const ReportFigures::Pattern& p : f.costliest) {
    rows.push_back({"<" + p.pattern + ">", std::to_string(p.count), std::to_string(p.code_size),
                    std::to_string(p.bits),
                    fixed(100 * ratio(static_cast<double>(p.bits), f.bits), 2) + "%"});
  }
  std::vector<std::size_t> widths(rows.front().size(), 0);
  for (const auto& row : rows) {
    for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
  }
  out += '\n';
  for (const auto& row : rows) {
    for (std::size_t i = 0; i < row.size(); ++i) {
      if (i != 0) out += "  ";
      out += padded(row[i], widths[i], i == 0);
    }
    out += '\n';
  }
  return out;
}

namespace {

// Length of the UTF-8 character at the start of `text`, 0 when its bytes are
// not one (overlong forms, surrogates and code points past U+10FFFF are not).
std::size_t utf8_length(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char first = byte(0);
  std::size_t size = 0;
  std::uint32_t point = 0;
  if (first < 0x80) return 1;
  if (first >= 0xc2 && first < 0xe0) {
    size = 2;
    point = first & 0x1fU;
  } else if (first >= 0xe0 && first < 0xf0) {
    size = 3;
    point = first & 0x0fU;
  } else if (first >= 0xf0 && first < 0xf5) {
    size = 4;
    point = first & 0x07U;
  } else {
    return 0;
  }
  if (text.size() < size) return 0;
  for (std::size_t i = 1; i < size; ++i) {
    if ((byte(i) & 0xc0U) != 0x80) return 0;
    point = point << 6 | (byte(i) & 0x3fU);
  }
  const bool shortest = (size == 3 && point >= 0x800) || (size == 4 && point >= 0x10000) || size == 2;
  if (!shortest || (point >= 0xd800 && point < 0xe000) || point > 0x10ffff) return 0;
  return size;
}

std::string json_string(std::string_view text) {
  std::string out = "\"";
  while (!text.empty()) {
    const auto c = static_cast<unsigned char>(text.front());
    const std::size_t size = utf8_length(text);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x20 && c != 0x7f && size != 0) {
      out += text.substr(0, size);
      text.remove_prefix(size);
      continue;
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    }
    text.remove_prefix(1);
  }
  return out + "\"";
}

}  // namespace

std::string format_report_json(const ReportFigures& f) {
  const auto bits = static_cast<double>(f.bits);
  std::string out = "{\n";
  auto field = [&](const char* name, const std::string& value) {
    out += "  \"";
    out += name;
    out += "\": ";
    out += value;
    out += ",\n";
  };
  field("websites", std::to_string(f.websites));
  field("tokens", std::to_string(f.tokens));
  field("skipped_bytes", std::to_string(f.skipped_bytes));
  field("bits", std::to_string(f.bits));
  field("bytes", std::to_string(f.bytes));
  field("bits_per_website", fixed(ratio(bits, f.websites), 2));
  field("bytes_per_website", fixed(ratio(static_cast<double>(f.bytes), f.websites), 2));
  field("bits_per_byte", fixed(ratio(bits, f.bytes), 3));
  field("optimal_prefix_code_bits", std::to_string(f.optimal_prefix_bits));
  field("optimal_prefix_code_bits_per_website",
        fixed(ratio(static_cast<double>(f.optimal_prefix_bits), f.websites), 2));
  field("entropy_bits", fixed(f.entropy_bits, 2));
  field("entropy_bits_per_website", fixed(ratio(f.entropy_bits, f.websites), 2));
  field("packed_bytes", std::to_string(f.packed_bytes));
  field("packed_bytes_per_website", fixed(ratio(static_cast<double>(f.packed_bytes), f.websites), 2));
  field("code_map_bytes", std::to_string(f.map_bytes));
  field("code_map_bits", std::to_string(f.map_bits));
  out += "  \"costliest\": [";
  for (std::size_t i = 0; i < f.costliest.size(); ++i) {
    const ReportFigures::Pattern& p = f.costliest[i];
    out += i == 0 ? "\n" : ",\n";
    out += "    {\"pattern\": " + json_string(p.pattern) + ", \"count\": " + std::to_string(p.count) +
           ", \"code_length\": " + std::to_string(p.code_size) + ", \"bits\": " + std::to_string(p.bits) +
           ", \"share\": " + fixed(100 * ratio(static_cast<double>(p.bits), f.bits), 2) + "}";
  }
  out += f.costliest.empty() ? "]\n}\n" : "\n  ]\n}\n";
  return out;
}

std::string valid_chars_list(const std::array<std::uint64_t, 256>& counts) {
  std::vector<unsigned> bytes;
  for (unsigned byte = 0; byte < 256; ++byte) {
    if (counts[byte] != 0) bytes.push_back(byte);
  }
  std::stable_sort(bytes.begin(), bytes.end(), [&](unsigned a, unsigned b) { return counts[a] > counts[b]; });
  std::string out;
  for (const unsigned byte : bytes) {
    out += '<';
    out += static_cast<char>(byte);
    out += ">\n";
  }
  return out;
}

// What the websites of a corpus cost in bits, against the bounds of their
// token counts.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <queue>

#include "varicode.h"

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

// Fuzzes the tokeniser against the slow reference tokeniser. The input is
// read as lines (split at line feeds, which no definition or corpus line can
// hold):
//   line 1     each byte is a one-byte entry of the valid-character list;
//   line 2     when not empty, one more entry of that list (of any length);
//              when it starts with byte 0x01, every byte but the line feed is
//              valid as well, and the entry is what follows the 0x01;
//   then       recurrent patterns, up to an empty line;
//   then       start patterns, up to an empty line;
//   the rest   corpus lines, as read (before trimming).
// The definitions are made what the definition reader would make of them:
// empty entries and repeats dropped, longest first, and, when the valid list
// is not empty, recurrent and start patterns with an invalid byte refused.
// The corpus bytes are counted by count_block six ways: each of the three
// walks of the tokeniser, the corpus as one block and cut into blocks of a few lines (as the
// corpus reader hands them over), counts taken after each block or at the
// end, line numbers near 2^32; counts, messages and line totals must all
// match the reference.
#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "patterntally.h"
#include "reference_tokenizer.h"
#include "tokenizer.h"

namespace {

[[noreturn]] void fail() { __builtin_trap(); }

using Counts = std::map<std::string, std::uint64_t>;

void add_unique(PatternList& list, std::string entry) {
  if (!entry.empty() && std::find(list.begin(), list.end(), entry) == list.end()) {
    list.push_back(std::move(entry));
  }
}

void longest_first(PatternList& list) { std::stable_sort(list.begin(), list.end(), compare_string_length); }

struct Way {
  TokenizerWalk walk;
  std::size_t lines_per_block;  // 0: the whole corpus in one block
  bool take_each_block;
  std::uint64_t first_line_number;
};

struct Expected {
  Counts counts;
  std::string messages;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::size_t at = 0;  // where the next line of the input begins
  auto take_line = [&]() -> std::string {
    if (at >= input.size()) return std::string();
    std::size_t lf = input.find('\n', at);
    if (lf == std::string_view::npos) lf = input.size();
    std::string line(input.substr(at, lf - at));
    at = lf + 1;
    return line;
  };

  PatternList valid;
  for (char c : take_line()) add_unique(valid, std::string(1, c));
  std::string extra = take_line();
  if (!extra.empty() && extra[0] == '\x01') {
    for (int b = 0; b < 256; ++b) {
      if (b != '\n') add_unique(valid, std::string(1, static_cast<char>(b)));
    }
    extra.erase(0, 1);
  }
  add_unique(valid, extra);
  longest_first(valid);

  auto read_patterns = [&]() {
    PatternList list;
    for (std::string p = take_line(); !p.empty(); p = take_line()) {
      if (valid.empty() || check_string(p, valid)) add_unique(list, std::move(p));
    }
    longest_first(list);
    return list;
  };
  const PatternList recurrent = read_patterns();
  const PatternList start = read_patterns();
  const std::string_view corpus = at < input.size() ? input.substr(at) : std::string_view();

  std::vector<std::string_view> lines;  // with their line feeds
  for (std::size_t from = 0; from < corpus.size();) {
    std::size_t lf = corpus.find('\n', from);
    lf = lf == std::string_view::npos ? corpus.size() : lf + 1;
    lines.push_back(corpus.substr(from, lf - from));
    from = lf;
  }
  auto expect = [&](std::uint64_t first_line_number) {
    Expected e;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      std::string raw(lines[i]);
      if (!raw.empty() && raw.back() == '\n') raw.pop_back();
      const ReferenceResult r = reference_tokenize(valid, recurrent, start, raw, first_line_number + i);
      for (const std::string& token : r.tokens) ++e.counts[token];
      e.messages += r.messages;
    }
    return e;
  };
  const std::uint64_t near_overflow = (std::uint64_t{1} << 32) - 2;
  const Expected from_one = expect(1);
  const Expected from_high = expect(near_overflow);

  const std::size_t cut = 1 + size % 5;
  const Way ways[] = {
      {TokenizerWalk::lines_in_table, 0, false, 1},
      {TokenizerWalk::sparse, 0, true, near_overflow},
      {TokenizerWalk::dense, cut, true, near_overflow},
      {TokenizerWalk::sparse, cut, false, 1},
      {TokenizerWalk::lines_in_table, 1, false, 1},
      {TokenizerWalk::lines_in_table, cut, true, near_overflow},
  };
  for (const Way& way : ways) {
    Tokenizer t = build_tokenizer(valid, recurrent, start, way.walk);
    Output messages = memory_output();
    Counts counts;
    auto take = [&]() {
      for (auto& [token, count] : take_token_counts(t)) {
        if (count == 0) fail();
        counts[token] += count;
      }
    };
    std::uint64_t done = 0;
    const std::size_t per_block = way.lines_per_block == 0 ? lines.size() : way.lines_per_block;
    for (std::size_t i = 0; i < lines.size(); i += per_block) {
      const std::size_t n = std::min(per_block, lines.size() - i);
      const std::string_view last = lines[i + n - 1];
      const std::size_t from = static_cast<std::size_t>(lines[i].data() - corpus.data());
      const std::size_t to = static_cast<std::size_t>(last.data() - corpus.data()) + last.size();
      const std::string_view block = corpus.substr(from, to - from);
      if (count_block(t, block, way.first_line_number + done, messages) != n) fail();
      done += n;
      if (way.take_each_block) take();
    }
    take();
    const Expected& expected = way.first_line_number == 1 ? from_one : from_high;
    if (counts != expected.counts || messages.buffer != expected.messages) fail();
    if (!take_token_counts(t).empty()) fail();  // the counters were reset
  }
  return 0;
}

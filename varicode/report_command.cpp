// `varicode report`: what the websites of websites.txt cost in bits with the
// code map, against an optimal prefix code and the entropy of the token
// counts, and which patterns cost most (format_report writes the text).
#include <algorithm>

#include "command_io.h"
#include "messages.h"
#include "trim.h"
#include "varicode.h"

namespace {

// The patterns of the report at most.
constexpr std::size_t costliest_shown = 20;

// The count of each token of the corpus, by token id, as the lines are read.
struct TokenTally {
  std::vector<std::uint64_t> count;
  std::vector<bool> reported;  // whether a token without a code word was reported
};

// Tokenises one website of `file` into `figures` and `tally`; a token
// without a code word is reported the first time only, and leaves the
// line's bits out.
void tally_line(const Coder& coder, const std::string& file, std::uint64_t number, std::string_view line,
                ReportFigures& figures, TokenTally& tally) {
  const Tokenizer& tokenizer = coder.tokenizer;
  ++figures.websites;
  const std::string_view trimmed = trim_view(line);
  figures.bytes += trimmed.size();
  std::uint64_t tokens = 0;
  std::uint64_t bits = 0;
  bool coded = true;
  walk_tokens(
      tokenizer, without_start_pattern(tokenizer, trimmed),
      [&](std::uint32_t token) {
        ++tally.count[token];
        ++tokens;
        bits += coder.code_size[token];
        if (coder.code_size[token] != 0) return;
        coded = false;
        if (tally.reported[token]) return;
        tally.reported[token] = true;
        report_line_problem(file, number, no_code_problem(token_text(tokenizer, token)));
      },
      [&](std::size_t) { ++figures.skipped_bytes; });
  figures.tokens += tokens;
  if (coded && tokens != 0) figures.bits += bits + 2 * (tokens - 1);
}

// The figures drawn from the token counts: the optimal prefix code, the
// entropy and the costliest patterns.
void add_count_figures(const Coder& coder, const TokenTally& tally, ReportFigures& figures) {
  std::vector<std::uint64_t> counts;
  for (std::uint32_t token = 0; token < tally.count.size(); ++token) {
    const std::uint64_t count = tally.count[token];
    if (count == 0) continue;
    counts.push_back(count);
    if (coder.code_size[token] == 0) continue;
    figures.costliest.push_back(
        {token_text(coder.tokenizer, token), count, coder.code_size[token], count * coder.code_size[token]});
  }
  figures.optimal_prefix_bits = optimal_prefix_code_bits(counts);
  figures.entropy_bits = entropy_bits(counts);
  // The costliest first; among equal costs the more frequent, then the pattern.
  std::sort(figures.costliest.begin(), figures.costliest.end(), [](const auto& a, const auto& b) {
    if (a.bits != b.bits) return a.bits > b.bits;
    if (a.count != b.count) return a.count > b.count;
    return a.pattern < b.pattern;
  });
  if (figures.costliest.size() > costliest_shown) figures.costliest.resize(costliest_shown);
}

}  // namespace

int run_report() {
  buffer_standard_error();
  check_standard_output(inputs_of({corpus_file}));
  CodeMap map;
  if (!read_map(map)) return 1;
  const Coder coder = build_coder(map);
  if (input_unreadable()) return finish(standard_output());
  ReportFigures figures;
  const std::size_t tokens = token_count(coder.tokenizer);
  TokenTally tally{std::vector<std::uint64_t>(tokens, 0), std::vector<bool>(tokens, false)};
  start_line_progress("report", "read");
  for_each_line({corpus_file}, [&](const std::string& file, std::uint64_t number, std::string_view line) {
    tally_line(coder, file, number, line, figures, tally);
  });
  add_count_figures(coder, tally, figures);
  stop_progress();
  Output& out = standard_output();
  write_output(out, format_report(figures));
  return finish(out);
}

// `varicode report`: what the websites of websites.txt cost in bits with the
// code map, against an optimal prefix code and the entropy of the token
// counts, and which patterns cost most (format_report writes the text,
// format_report_json the JSON), and what the packed stream and the code map
// take.
#include <sys/stat.h>

#include <algorithm>

#include "codec.h"
#include "command_io.h"
#include "messages.h"
#include "packed.h"
#include "trim.h"

namespace {

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
// entropy and the `top` costliest patterns (0: all).
void add_count_figures(const Coder& coder, const TokenTally& tally, std::size_t top, ReportFigures& figures) {
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
  if (top != 0 && figures.costliest.size() > top) figures.costliest.resize(top);
}

// What the websites take packed, and what the code map takes: the bytes of
// its file, and its code words joined by "00".
void add_size_figures(const CodeMap& map, ReportFigures& figures) {
  figures.packed_bytes =
      packed_header_size + (figures.bits + 3 * figures.websites + 7) / 8 + packed_trailer_size;
  struct stat file {};
  figures.map_bytes = ::stat(code_map_file, &file) == 0 ? static_cast<std::uint64_t>(file.st_size) : 0;
  figures.map_bits += map.codes.bytes().size() + 2 * map.codes.size();
  figures.map_bits -= std::min<std::uint64_t>(figures.map_bits, 2);
}

}  // namespace

int run_report(const std::string& output, bool json, std::size_t top) {
  buffer_standard_error();
  if (output.empty()) check_standard_output(inputs_of({corpus_file}));
  CodeMap map;
  if (!read_map(map)) return 1;
  const Coder coder = build_coder(map);
  if (input_unreadable()) return finish(standard_output());
  Output named;
  Output& out = command_output(output, inputs_of({corpus_file}), named);
  if (out.failed) return finish(out);
  ReportFigures figures;
  const std::size_t tokens = token_count(coder.tokenizer);
  TokenTally tally{std::vector<std::uint64_t>(tokens, 0), std::vector<bool>(tokens, false)};
  start_line_progress("report", "read");
  for_each_line({corpus_file}, [&](const std::string& file, std::uint64_t number, std::string_view line) {
    tally_line(coder, file, number, line, figures, tally);
  });
  add_count_figures(coder, tally, top, figures);
  add_size_figures(map, figures);
  stop_progress();
  write_output(out, json ? format_report_json(figures) : format_report(figures));
  return finish(out);
}

// varicode: encodes websites with the code map, decodes them, and tells what
// they cost in bits. The options are read before any file is opened (see
// read_command_line).
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "codec.h"
#include "messages.h"
#include "program.h"
#include "suggest.h"
#include "thread_start.h"

#ifndef PATTERNLADDER_VERSION
#error "the build passes PATTERNLADDER_VERSION, the project version"
#endif

namespace {

constexpr std::string_view about =
    "Usage: varicode [-C DIR] [-j N] encode [--packed] [-o FILE] [FILE]...\n"
    "       varicode [-C DIR] decode [--packed] [-o FILE] [FILE]...\n"
    "       varicode [-C DIR] report [--json] [--top=N] [-o FILE]\n"
    "       varicode [-C DIR] suggest [--sample=LINES] [-o FILE] N [FILE]...\n"
    "       varicode [-C DIR] chars [-o FILE] [FILE]...\n"
    "Puts the code map of bitladder to use.\n"
    "\n"
    "  encode  writes each website (one a line) as the code words of its\n"
    "          tokens joined by \"00\", one line for each line read; with\n"
    "          --packed, as one packed stream of bits (see the manual)\n"
    "  decode  writes each such line, or each website of a packed stream, back\n"
    "          as the patterns of its code words\n"
    "  report  tells what the websites of websites.txt cost in bits, against\n"
    "          an optimal prefix code and the entropy, and which patterns cost most\n"
    "  suggest learns at most N recurrent patterns that make the websites of the\n"
    "          FILEs cheapest to code (fewer when no more saves a bit), and writes\n"
    "          them as <pattern> lines for patterns_recurrent.txt, most valuable\n"
    "          first; it learns from LINES lines taken evenly (default: 20000 or\n"
    "          150 x N, whichever is more; 0: all), and tells on standard error\n"
    "          their bits per website against none and the current patterns\n"
    "  chars   writes a valid-character list of every byte inside the trimmed\n"
    "          lines of the FILEs, most frequent first: with it and an empty\n"
    "          patterns_start.txt, every website decodes as it was read\n"
    "With no FILE, encode and decode read standard input, and suggest and chars\n"
    "read websites.txt; a FILE - is standard input.\n"
    "\n"
    "Reads:   map_varicodes.txt                  code, space, <pattern> (bitladder)\n"
    "         patterns_valid_chars.txt           valid characters, one <c> a line\n"
    "         patterns_recurrent.txt             recurrent patterns, one <p> a line\n"
    "         patterns_start.txt                 start patterns, one <p> a line\n"
    "A website is split into tokens as patterntally counts it: trimmed, its start\n"
    "pattern removed (start patterns are not coded), longest pattern first.\n"
    "Invalid characters are skipped, and each is reported on standard error, as\n"
    "are tokens without a code (the line's code is then empty) and lines that do\n"
    "not decode (their line is then empty). At its end, encode tells how many\n"
    "websites lost a start pattern or invalid bytes.\n"
    "\n";

constexpr std::string_view threads_help =
    "encode: code with N threads (default: one per core;\n"
    "                       0: the default); the output is the same for any N\n";

constexpr std::string_view own_options =
    "      --packed         encode, decode: write, read a packed stream\n"
    "      --json           report: write the report as one JSON document\n"
    "      --top=N          report: list the N costliest patterns (default: 20,\n"
    "                       with --json all; 0: all)\n"
    "      --sample=LINES   suggest: learn from LINES lines (0: all)\n"
    "  -o, --output=FILE    write to FILE, replaced only once all is written\n"
    "                       (default: standard output)\n";

constexpr std::string_view after =
    "Exit status: 0 when every line was coded whole, 1 when anything was skipped\n"
    "or reported, or a file could not be read or written (suggest: only then),\n"
    "2 for a usage error.\n"
    "\n"
    "The manual: man varicode (man/varicode.1 in the source tree)\n";

constexpr std::string_view version = "varicode " PATTERNLADDER_VERSION "\n";

// --sample not given.
constexpr std::uint64_t no_sample = UINT64_MAX;

// A number of patterns, up to a million.
bool read_count(const std::string& text, std::size_t& n) {
  if (text.empty() || text.size() > 7 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  n = std::stoul(text);
  return n <= 1000000;
}

}  // namespace

int main(int argc, char** argv) {
  start_program("varicode");
  std::vector<std::string> operands;
  std::uint64_t sample = no_sample;
  unsigned threads = default_thread_count();
  std::string output;
  const std::string usage =
      usage_text({.about = about, .threads = threads_help, .own_options = own_options, .after = after});
  bool packed = false;
  bool json = false;
  std::string top;
  bool top_given = false;
  const int command_line_status =
      read_command_line(argc, argv, usage, version,
                        {.threads = &threads,
                         .operands = &operands,
                         .sample = &sample,
                         .output = &output,
                         .own = {{.name = "packed", .set = &packed},
                                 {.name = "json", .set = &json},
                                 {.name = "top", .set = &top_given, .value = &top}}});
  if (command_line_status >= 0) return command_line_status;
  if (operands.empty()) return usage_error(command_needed);
  const std::string command = operands.front();
  const std::vector<std::string> files(operands.begin() + 1, operands.end());
  if (sample != no_sample && command != "suggest") return usage_error(suggest_only_option("--sample"));
  if (packed && command != "encode" && command != "decode") {
    return usage_error(option_of_commands("--packed", "encode and decode"));
  }
  if ((json || top_given) && command != "report") {
    return usage_error(option_of_commands(json ? "--json" : "--top", "report"));
  }
  if (command == "encode") return run_encode(files, threads, output, packed);
  if (command == "decode") return run_decode(files, output, packed);
  if (command == "report") {
    if (!files.empty()) return usage_error(unexpected_argument(files.front()));
    std::size_t n = json ? 0 : 20;
    if (top_given && !read_count(top, n)) return usage_error(invalid_top_count(top));
    return run_report(output, json, n);
  }
  if (command == "chars") return run_chars(files, output);
  if (command == "suggest") {
    std::size_t n = 0;
    if (files.empty() || !read_count(files.front(), n)) {
      return usage_error(files.empty() ? std::string(pattern_count_needed)
                                       : invalid_pattern_count(files.front()));
    }
    if (sample == no_sample) sample = std::max<std::uint64_t>(20000, 150 * std::uint64_t{n});
    return run_suggest(n, std::vector<std::string>(files.begin() + 1, files.end()), sample, output);
  }
  return usage_error(unknown_command(command));
}

// patterntally: counts the patterns of the websites in the corpus.
// The options are read before any file is opened (see read_command_line).
#include <string>
#include <string_view>

#include "output.h"
#include "patterntally.h"
#include "program.h"
#include "thread_start.h"

#ifndef PATTERNLADDER_VERSION
#error "the build passes PATTERNLADDER_VERSION, the project version"
#endif

namespace {

constexpr std::string_view about =
    "Usage: patterntally [-C DIR] [-j N]\n"
    "Counts the patterns of the websites listed in websites.txt and ranks them,\n"
    "most frequent first. Works in the directory that holds its files.\n"
    "\n"
    "Reads:   websites.txt                       the corpus, one website a line\n"
    "         patterns_valid_chars.txt           valid characters, one <c> a line\n"
    "         patterns_recurrent.txt             recurrent patterns, one <p> a line\n"
    "         patterns_start.txt                 start patterns, one <p> a line\n"
    "Creates: patterns_and_frequencies.txt       count, tab, <p>, ranked by count\n"
    "         patterns_ordered_by_frequency.txt  <p>, same order; read by bitladder\n"
    "Unusable definition lines and invalid corpus characters are reported on\n"
    "standard output and skipped.\n"
    "\n"
    "Each output replaces its file only once it is complete and on disk: a run\n"
    "that fails to write it, or is interrupted, leaves the previous one as it was.\n"
    "\n";

constexpr std::string_view threads_help =
    "count with N threads (default: one per core; 0: the\n"
    "                       default); the output is the same for every N\n";

constexpr std::string_view after =
    "Exit status: 0 when the run completed, 1 when a file could not be read or\n"
    "written or memory ran out (reported on standard error), 2 for a usage error.\n"
    "\n"
    "The manual: man patterntally (man/patterntally.1 in the source tree)\n";

constexpr std::string_view version = "patterntally " PATTERNLADDER_VERSION "\n";

}  // namespace

int main(int argc, char** argv) {
  start_program("patterntally");
  unsigned threads = default_thread_count();
  const std::string usage = usage_text({.about = about, .threads = threads_help, .after = after});
  const int command_line_status = read_command_line(argc, argv, usage, version, {.threads = &threads});
  if (command_line_status >= 0) return command_line_status;
  return run_patterntally(threads);
}

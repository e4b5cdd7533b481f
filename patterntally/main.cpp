// patterntally: counts the patterns of the websites in the corpus.
// The options are read before any file is opened (see read_command_line).
#include <string_view>

#include "failure.h"
#include "patterntally.h"
#include "program.h"

#ifndef PATTERNLADDER_VERSION
#error "the build passes PATTERNLADDER_VERSION, the project version"
#endif

namespace {

constexpr std::string_view usage =
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
    "\n"
    "A run that lasts over half a second shows its progress on standard error when\n"
    "that is a terminal: one line, redrawn in place and cleared at the end.\n"
    "\n"
    "  -C, --directory=DIR  work in DIR instead of the current directory\n"
    "  -j, --threads=N      count with N threads (default: one per core; 0: the\n"
    "                       default); the output is the same for every N\n"
    "      --progress       show the progress also when standard error is not a\n"
    "                       terminal, one line a second\n"
    "      --no-progress    never show it\n"
    "  -h, --help           print this text and exit\n"
    "      --version        print the version and exit\n"
    "\n"
    "Exit status: 0 when the run completed, 1 when a file could not be read or\n"
    "written or memory ran out (reported on standard error), 2 for a usage error.\n"
    "\n"
    "The manual: man patterntally (man/patterntally.1 in the source tree)\n";

constexpr std::string_view version = "patterntally " PATTERNLADDER_VERSION "\n";

}  // namespace

int main(int argc, char** argv) {
  start_program("patterntally");
  unsigned threads = default_thread_count();
  const int ended = read_command_line(argc, argv, usage, version, {.threads = &threads});
  if (ended >= 0) return ended;
  return run_patterntally(threads);
}

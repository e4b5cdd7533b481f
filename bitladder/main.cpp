// bitladder: gives each ranked pattern a code word, shortest to the first.
// The options are read before any file is opened (see read_command_line).
#include <string_view>

#include "bitladder.h"
#include "output.h"
#include "program.h"

#ifndef PATTERNLADDER_VERSION
#error "the build passes PATTERNLADDER_VERSION, the project version"
#endif

namespace {

constexpr std::string_view about =
    "Usage: bitladder [-C DIR]\n"
    "Gives each pattern of patterns_ordered_by_frequency.txt, in order, the next\n"
    "code word of 1, 11, 101, 111, 1011, ... (shortest first), writes the pairs to\n"
    "map_varicodes.txt and prints how many codes it gave and the longest length.\n"
    "Works in the directory that holds its files.\n"
    "\n"
    "Reads:   patterns_ordered_by_frequency.txt  one <pattern> a line (patterntally)\n"
    "Creates: map_varicodes.txt                  code, space, <pattern>\n"
    "Empty and repeated lines are reported on standard output and skipped.\n"
    "\n"
    "The code map replaces its file only once it is complete and on disk: a run\n"
    "that fails to write it, or is interrupted, leaves the previous one as it was.\n"
    "\n";

constexpr std::string_view after =
    "Exit status: 0 when the run completed, 1 when a file could not be read or\n"
    "written or memory ran out (reported on standard error), 2 for a usage error.\n"
    "\n"
    "The manual: man bitladder (man/bitladder.1 in the source tree)\n";

constexpr std::string_view version = "bitladder " PATTERNLADDER_VERSION "\n";

}  // namespace

int main(int argc, char** argv) {
  start_program("bitladder");
  const int command_line_status =
      read_command_line(argc, argv, usage_text({.about = about, .after = after}), version);
  if (command_line_status >= 0) return command_line_status;
  return run_bitladder();
}

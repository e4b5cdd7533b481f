// bitladder: gives each ranked pattern a code word, shortest to the first.
// Arguments are ignored, except that a lone "--help", "-h" or "--version"
// prints a text and ends the run before any file is opened.
#include <string_view>

#include "bitladder.h"
#include "failure.h"
#include "program.h"

#ifndef PATTERNLADDER_VERSION
#error "the build passes PATTERNLADDER_VERSION, the project version"
#endif

namespace {

constexpr std::string_view usage =
    "Usage: bitladder\n"
    "Gives each pattern of patterns_ordered_by_frequency.txt, in order, the next\n"
    "code word of 1, 11, 101, 111, 1011, ... (shortest first), writes the pairs to\n"
    "map_varicodes.txt and prints how many codes it gave and the longest length.\n"
    "Run it in the directory that holds its files; it takes no arguments.\n"
    "\n"
    "Reads:   patterns_ordered_by_frequency.txt  one <pattern> a line (patterntally)\n"
    "Creates: map_varicodes.txt                  code, space, <pattern>\n"
    "Empty and repeated lines are reported on standard output and skipped.\n"
    "\n"
    "  -h, --help  print this text and exit\n"
    "  --version   print the version and exit\n"
    "\n"
    "The manual: man bitladder\n";

constexpr std::string_view version = "bitladder " PATTERNLADDER_VERSION "\n";

}  // namespace

int main(int argc, char** argv) {
  start_program("bitladder");
  const int ended = read_command_line(argc, argv, usage, version);
  if (ended >= 0) return ended;
  return run_bitladder();
}

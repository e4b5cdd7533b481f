// varicode: encodes websites with the code map, decodes them, and tells what
// they cost in bits. The options are read before any file is opened (see
// read_command_line).
#include <string>
#include <string_view>
#include <vector>

#include "failure.h"
#include "program.h"
#include "varicode.h"

#ifndef PATTERNLADDER_VERSION
#error "the build passes PATTERNLADDER_VERSION, the project version"
#endif

namespace {

constexpr std::string_view usage =
    "Usage: varicode [-C DIR] encode [FILE]...\n"
    "       varicode [-C DIR] decode [FILE]...\n"
    "       varicode [-C DIR] report\n"
    "Puts the code map of bitladder to use.\n"
    "\n"
    "  encode  writes each website (one a line) as the code words of its\n"
    "          tokens joined by \"00\", one line for each line read\n"
    "  decode  writes each such line back as the patterns of its code words\n"
    "  report  tells what the websites of websites.txt cost in bits, against\n"
    "          an optimal prefix code and the entropy, and which patterns cost most\n"
    "With no FILE, or when FILE is -, encode and decode read standard input.\n"
    "\n"
    "Reads:   map_varicodes.txt                  code, space, <pattern> (bitladder)\n"
    "         patterns_valid_chars.txt           valid characters, one <c> a line\n"
    "         patterns_recurrent.txt             recurrent patterns, one <p> a line\n"
    "         patterns_start.txt                 start patterns, one <p> a line\n"
    "A website is split into tokens as patterntally counts it: trimmed, its start\n"
    "pattern removed (start patterns are not coded), longest pattern first.\n"
    "Invalid characters are skipped, and each is reported on standard error, as\n"
    "are tokens without a code (the line's code is then empty) and lines that do\n"
    "not decode (their line is then empty).\n"
    "\n"
    "  -C, --directory=DIR  work in DIR instead of the current directory\n"
    "  -h, --help           print this text and exit\n"
    "      --version        print the version and exit\n"
    "\n"
    "Exit status: 0 when every line was coded whole, 1 when anything was skipped\n"
    "or reported, or a file could not be read or written, 2 for a usage error.\n"
    "\n"
    "The manual: man varicode\n";

constexpr std::string_view version = "varicode " PATTERNLADDER_VERSION "\n";

int usage_error(const std::string& what) {
  std::string lines(program_name());
  lines += ": " + what + "\nTry 'varicode --help'.\n";
  std::fputs(lines.c_str(), stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  start_program("varicode");
  std::vector<std::string> operands;
  const int ended = read_command_line(argc, argv, usage, version, {.operands = &operands});
  if (ended >= 0) return ended;
  if (operands.empty()) return usage_error("a command is needed: encode, decode or report");
  const std::string command = operands.front();
  const std::vector<std::string> files(operands.begin() + 1, operands.end());
  if (command == "encode") return run_encode(files);
  if (command == "decode") return run_decode(files);
  if (command == "report") {
    if (!files.empty()) return usage_error("unexpected argument \"" + files.front() + "\"");
    return run_report();
  }
  return usage_error("unknown command \"" + command + "\"");
}

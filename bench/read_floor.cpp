// read_floor: reads "websites.txt" (or the file named by the first argument)
// with the programs' line reader and does nothing else but count its
// lines and bytes. Its time is the floor of any run over the same corpus:
// what patterntally spends above it goes to trimming, start patterns and
// tokens.
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "line_reader.h"

int main(int argc, char** argv) {
  const std::string name = argc > 1 ? argv[1] : "websites.txt";
  LineReader reader = open_lines(name);
  if (reader.file == nullptr) {
    std::fprintf(stderr, "read_floor: cannot open \"%s\"\n", name.c_str());
    return 1;
  }
  std::uint64_t lines = 0;
  std::uint64_t bytes = 0;  // line bytes, without the line feeds
  std::string_view line;
  while (next_line(reader, line)) {
    ++lines;
    bytes += line.size();
  }
  close_lines(reader);
  std::printf("%llu lines, %llu bytes\n", static_cast<unsigned long long>(lines),
              static_cast<unsigned long long>(bytes));
  return 0;
}

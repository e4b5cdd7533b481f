// `varicode decode`: each line of its files, a code, written back as the
// patterns of its code words; a line that does not decode is written empty
// and reported.
#include "command_io.h"
#include "varicode.h"

int run_decode(const std::vector<std::string>& files) {
  buffer_standard_error();
  Output& out = standard_output();
  if (!check_outputs(files)) return finish(out);
  CodeMap map;
  if (!read_map(map)) return 1;
  const Decoder decoder = build_decoder(map);
  std::string text;
  start_line_progress("decode", "decoded");
  for_each_line(files, [&](const std::string& file, std::uint64_t number, std::string_view line) {
    text.clear();
    const std::string wrong = decode_line(decoder, line, text);
    text += '\n';
    write_output(out, text);
    if (!wrong.empty()) report_line_problem(file, number, wrong);
  });
  return finish(out);
}

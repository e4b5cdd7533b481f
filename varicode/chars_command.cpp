// `varicode chars`: the valid-character list that keeps every byte inside
// the trimmed lines of its files, so that with it and no start patterns
// every website decodes as it was read.
#include <algorithm>
#include <array>

#include "codec.h"
#include "command_io.h"
#include "trim.h"

int run_chars(const std::vector<std::string>& files, const std::string& output) {
  buffer_standard_error();
  const std::vector<std::string> corpus = {corpus_file};
  const std::vector<std::string>& inputs = files.empty() ? corpus : files;
  if (std::find(inputs.begin(), inputs.end(), "-") != inputs.end() && !check_standard_input()) {
    return finish(standard_output());
  }
  // It reads the corpus only: its list may replace the valid-character list.
  if (output.empty()) check_standard_output(inputs);
  Output named;
  Output& out = command_output(output, inputs, named);
  if (out.failed) return finish(out);
  std::array<std::uint64_t, 256> counts{};
  start_line_progress("chars", "read");
  for_each_line(inputs, [&](const std::string&, std::uint64_t, std::string_view line) {
    for (const char byte : trim_view(line)) ++counts[static_cast<unsigned char>(byte)];
  });
  write_output(out, valid_chars_list(counts));
  return finish(out);
}

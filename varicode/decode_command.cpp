// `varicode decode`: each line of its files, a code, written back as the
// patterns of its code words; a line that does not decode is written empty
// and reported. With --packed, each file is a packed stream (packed.h),
// whose websites are written a line each; a stream that is not one, or is
// damaged, is reported after the websites before the damage.
#include "codec.h"
#include "command_io.h"
#include "messages.h"
#include "packed.h"

namespace {

// Decodes the packed stream of `reader` to `out`; what is wrong with it is
// reported.
void decode_stream(const Decoder& decoder, std::uint64_t digest, const std::string& file, LineReader& reader,
                   Output& out) {
  PackedReader packed;
  packed.digest = digest;
  std::string text;
  std::string wrong;
  while (wrong.empty() && refill_lines(reader)) {
    wrong = unpack(packed, decoder, {reader.buffer.data() + reader.begin, reader.end - reader.begin}, text);
    reader.begin = reader.end;
    write_output(out, text);
    text.clear();
    progress_done.store(packed.websites, std::memory_order_relaxed);
  }
  if (wrong.empty()) wrong = finish_unpacking(packed, decoder, text);
  write_output(out, text);
  if (!wrong.empty()) report_problem(cannot_decode_problem(file, wrong));
}

}  // namespace

int run_decode(const std::vector<std::string>& files, const std::string& output, bool packed) {
  buffer_standard_error();
  if (!check_outputs(files, output)) return finish(standard_output());
  CodeMap map;
  if (!read_map(map)) return 1;
  const Decoder decoder = build_decoder(map);
  Output named;
  Output& out = command_output(output, inputs_of(files), named);
  if (out.failed) return finish(out);
  start_line_progress("decode", "decoded");
  if (packed) {
    const std::uint64_t digest = code_map_digest();
    for_each_file(files, [&](const std::string& file, LineReader& reader) {
      decode_stream(decoder, digest, file, reader, out);
    });
    return finish(out);
  }
  std::string text;
  for_each_line(files, [&](const std::string& file, std::uint64_t number, std::string_view line) {
    text.clear();
    const std::string wrong = decode_line(decoder, line, text);
    text += '\n';
    write_output(out, text);
    if (!wrong.empty()) report_line_problem(file, number, wrong);
  });
  return finish(out);
}

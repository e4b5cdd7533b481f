// `varicode decode`: each line of its files, a code, written back as the
// patterns of its code words; a line that does not decode is written empty
// and reported. With --packed, each file is a packed stream (packed.h),
// whose websites are written a line each; a stream that is not one, or is
// damaged, is reported. Damage may lie anywhere before the byte where it is
// seen, and a flipped bit that still decodes is seen only by the checksum at
// the end. With -o, a damaged stream keeps the previous file. On standard
// output, which cannot be taken back, a stream in a regular file has its
// checksum checked before any of its websites is written, and a damaged one
// writes none; a stream read from a pipe is decoded as it comes, and its
// websites before the damage is seen are written.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "codec.h"
#include "command_io.h"
#include "messages.h"
#include "packed.h"

namespace {

// Whether the stream in `reader` is a regular file whose header is that of
// a stream of this code map and whose checksum does not match its bytes:
// read apart from the reader, which has read nothing yet and is left where
// it was. False when it cannot tell; decoding then finds out.
bool fails_its_checksum(LineReader& reader, std::uint64_t digest) {
  const int fd = ::fileno(reader.file);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  // Standard input may have been read some way already: the stream is what
  // is left of the file.
  const off_t start = ::lseek(fd, 0, SEEK_CUR);
  if (start < 0 || start > st.st_size) return false;
  const auto size = static_cast<std::uint64_t>(st.st_size - start);
  if (size < packed_header_size + packed_trailer_size) return false;
  PackedWriter expected;
  start_packing(expected, digest);
  const std::uint64_t covered = size - 4;  // every byte but the checksum
  std::string piece(std::size_t{1} << 20, '\0');
  std::uint32_t crc = 0;
  for (std::uint64_t at = 0; at < size;) {
    const std::uint64_t until = at < covered ? covered : size;  // the checksum is read apart
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(piece.size(), until - at));
    const ssize_t got = ::pread(fd, piece.data(), want, start + static_cast<off_t>(at));
    if (got <= 0) return false;
    const std::string_view bytes(piece.data(), static_cast<std::size_t>(got));
    if (at == 0 && bytes.substr(0, packed_header_size) != expected.bytes) return false;
    if (at >= covered) {
      if (bytes.size() != 4) return false;
      return read_big_endian(bytes) != crc;
    }
    crc = crc32(crc, bytes);
    at += bytes.size();
  }
  return false;
}

// Decodes the packed stream of `reader` to `out`, or, when `out` is null,
// only finds what is wrong with it; what is wrong with it is reported.
// True when nothing is.
bool decode_stream(const Decoder& decoder, std::uint64_t digest, const std::string& file, LineReader& reader,
                   Output* out) {
  PackedReader packed;
  packed.digest = digest;
  std::string text;
  std::string wrong;
  while (wrong.empty() && refill_lines(reader)) {
    wrong = unpack(packed, decoder, {reader.buffer.data() + reader.begin, reader.end - reader.begin}, text);
    reader.begin = reader.end;
    if (out != nullptr) write_output(*out, text);
    text.clear();
    progress_done.store(packed.websites, std::memory_order_relaxed);
  }
  if (wrong.empty()) wrong = finish_unpacking(packed, decoder, text);
  if (out != nullptr) write_output(*out, text);
  if (wrong.empty()) return true;
  report_problem(cannot_decode_problem(file, wrong));
  return false;
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
    bool damaged = false;
    for_each_file(files, [&](const std::string& file, LineReader& reader) {
      // A file that -o replaces is not read twice: a damage keeps the old
      // one. A stream that fails its checksum is decoded all the same,
      // writing nothing, so that the damage is told where it is seen.
      const bool whole = !output.empty() || !fails_its_checksum(reader, digest);
      if (decode_stream(decoder, digest, file, reader, whole ? &out : nullptr)) {
        if (whole) return;
        report_problem(cannot_decode_problem(file, checksum_differs));  // changed as it was read
      }
      damaged = true;
    });
    return finish(out, damaged);
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

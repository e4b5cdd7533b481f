// Buffered output files. Bytes collect in a buffer and reach the file in large
// writes; the programs' outputs are byte streams, so when they are handed to
// the operating system changes nothing in them. The first failed write of a
// file is reported (see failure.h) and nothing more is written to it.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

struct Output {
  std::FILE* file = nullptr;  // null: the bytes only collect in `buffer`
  std::string name;           // empty for standard output
  std::string buffer;
  bool failed = false;  // a failure was reported; later bytes are dropped
};

// Creates or truncates `name` for writing. When it cannot be created, the
// failure is reported and the result drops everything written to it.
Output create_output(const std::string& name);

// An Output that keeps everything in `buffer`, for tests.
Output memory_output();

// Standard output, shared by the whole program. Flushed before any failure
// line goes to standard error, so that the two streams stay in order.
Output& standard_output();

// Hands the buffer to the file when it holds this many bytes or more.
inline constexpr std::size_t output_flush_size = 1 << 16;

void flush_output(Output& out);

inline void write_output(Output& out, std::string_view bytes) {
  out.buffer.append(bytes);
  if (out.file != nullptr && out.buffer.size() >= output_flush_size) flush_output(out);
}

// Flushes and closes the file; a failure to close is reported too.
void close_output(Output& out);

#include "line_reader.h"

#include <cerrno>

#include "failure.h"

LineReader open_lines(const std::string& name) {
  LineReader reader;
  reader.name = name;
  reader.file = std::fopen(name.c_str(), "rb");
  if (reader.file == nullptr) {
    reader.at_end = true;
  } else {
    std::setvbuf(reader.file, nullptr, _IONBF, 0);  // we read in large blocks
  }
  return reader;
}

bool refill_lines(LineReader& reader) {
  if (reader.at_end) return false;
  // Keep the unfinished line, moved to the front; grow when it fills the buffer.
  const std::size_t kept = reader.end - reader.begin;
  if (kept != 0 && reader.begin != 0) {
    std::memmove(reader.buffer.data(), reader.buffer.data() + reader.begin, kept);
  }
  reader.begin = 0;
  reader.end = kept;
  if (reader.buffer.size() < kept + line_block_size) {
    std::size_t size = reader.buffer.empty() ? line_block_size : reader.buffer.size();
    while (size < kept + line_block_size) size *= 2;
    reader.buffer.resize(size);
  }
  const std::size_t wanted = reader.buffer.size() - kept;
  errno = 0;
  const std::size_t got = std::fread(reader.buffer.data() + kept, 1, wanted, reader.file);
  reader.end += got;
  if (got == 0) {
    if (std::ferror(reader.file)) report_read_failure(reader.name, errno);
    reader.at_end = true;
    return false;
  }
  return true;
}

bool next_block(LineReader& reader, std::string_view& block) {
  for (;;) {
    const std::string_view unread(reader.buffer.data() + reader.begin, reader.end - reader.begin);
    const std::size_t last_lf = unread.rfind('\n');
    if (last_lf != std::string_view::npos) {
      block = unread.substr(0, last_lf + 1);
      reader.begin += last_lf + 1;
      return true;
    }
    if (!refill_lines(reader)) return take_rest(reader, block);
  }
}

void close_lines(LineReader& reader) {
  if (reader.file != nullptr) std::fclose(reader.file);
  reader.file = nullptr;
  reader.at_end = true;
}

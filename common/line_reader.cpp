#include "line_reader.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>

#include "messages.h"
#include "output.h"
#include "progress.h"

namespace {

std::atomic<bool> any_unreadable{false};

void mark_unreadable(LineReader& reader) {
  reader.unreadable = true;
  any_unreadable.store(true);
}

}  // namespace

LineReader open_lines(const std::string& name, bool report_missing) {
  LineReader reader;
  reader.name = name;
  errno = 0;
  reader.file = std::fopen(name.c_str(), "rb");
  int error = reader.file == nullptr ? (errno != 0 ? errno : EIO) : 0;
  struct stat opened {};
  if (reader.file != nullptr && ::fstat(::fileno(reader.file), &opened) == 0 && S_ISDIR(opened.st_mode)) {
    std::fclose(reader.file);  // a directory opens, but is no file of lines
    reader.file = nullptr;
    error = EISDIR;
  }
  if (reader.file == nullptr) {
    reader.at_end = true;
    if (error == ENOMEM) fail_out_of_memory();
    if (error == ENOENT && !report_missing) {
      report_note(missing_file_note(name));
    } else {
      report_read_failure(name, error);
      mark_unreadable(reader);
    }
  } else {
    std::setvbuf(reader.file, nullptr, _IONBF, 0);  // we read in large blocks
  }
  return reader;
}

bool input_unreadable() { return any_unreadable.load(); }

LineReader standard_input_lines(const std::string& name) {
  LineReader reader;
  reader.name = name;
  reader.file = stdin;
  reader.standard_input = true;
  return reader;
}

void reserve_bytes(ReadBuffer& buffer, std::size_t size) {
  if (buffer.size >= size) return;
  // An eighth more each time: a long line costs little more than itself.
  size = std::max(size, buffer.size + buffer.size / 8);
  void* grown = std::realloc(buffer.data(), size);
  if (grown == nullptr) fail_out_of_memory();
  static_cast<void>(buffer.bytes.release());
  buffer.bytes.reset(static_cast<char*>(grown));
  buffer.size = size;
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
  reserve_bytes(reader.buffer, kept + line_block_size);
  int error = 0;
  const std::size_t got = read_bytes(reader, reader.buffer.data() + kept, reader.buffer.size - kept, error);
  reader.end += got;
  if (got == 0) {
    if (error != 0) report_read_failure(reader.name, error);
    reader.at_end = true;
    return false;
  }
  return true;
}

std::size_t read_bytes(LineReader& reader, char* bytes, std::size_t size, int& error) {
  if (reader.file == nullptr || reader.left == 0) return 0;
  size = static_cast<std::size_t>(std::min<std::uint64_t>(size, reader.left));
  errno = 0;
  const std::size_t got = std::fread(bytes, 1, size, reader.file);
  reader.left -= got;
  bytes_read.fetch_add(got, std::memory_order_relaxed);
  if (got != 0) {
    reader.read_any = true;
  } else if (std::ferror(reader.file)) {
    error = errno != 0 ? errno : EIO;
    if (!reader.read_any) mark_unreadable(reader);
  }
  return got;
}

bool read_only(LineReader& reader, std::uint64_t offset, std::uint64_t size) {
  reader.begin = reader.end = 0;
  reader.at_end = reader.file == nullptr;
  reader.left = size;
  if (reader.file != nullptr && ::fseeko(reader.file, static_cast<off_t>(offset), SEEK_SET) != 0) {
    reader.left = 0;
    return false;
  }
  return true;
}

bool next_block(LineReader& reader, std::string_view& block) {
  std::size_t searched = 0;  // unread bytes known to hold no line feed
  for (;;) {
    const char* unread = reader.buffer.data() + reader.begin;
    const std::size_t size = reader.end - reader.begin;
    if (size > searched) {
      const void* lf = ::memrchr(unread + searched, '\n', size - searched);
      if (lf != nullptr) {
        const auto length = static_cast<std::size_t>(static_cast<const char*>(lf) - unread) + 1;
        block = std::string_view(unread, length);
        reader.begin += length;
        return true;
      }
      searched = size;  // a refill keeps these bytes first
    }
    if (!refill_lines(reader)) return take_rest(reader, block);
  }
}

void start_reading_progress(const std::string& program, const LineReader& reader) {
  struct stat file {};
  std::uint64_t total = 0;
  if (reader.file != nullptr && ::fstat(::fileno(reader.file), &file) == 0 && S_ISREG(file.st_mode)) {
    total = static_cast<std::uint64_t>(file.st_size);
    if (reader.left != UINT64_MAX) total = reader.left;
  }
  const std::uint64_t base = bytes_read.load();
  start_progress([program, total, base](double seconds) {
    return reading_status(program, bytes_read.load(std::memory_order_relaxed) - base, total, seconds);
  });
}

void close_lines(LineReader& reader) {
  if (reader.file != nullptr && !reader.standard_input) std::fclose(reader.file);
  reader.file = nullptr;
  reader.at_end = true;
}

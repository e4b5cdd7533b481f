// Where a rank keeps the messages of the chunks it counted (see spool.h).
#include "spool.h"

#include <fcntl.h>
#include <linux/falloc.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "messages.h"

namespace {

// A file for reading and writing in `dir` that has no name: O_TMPFILE, or,
// where the file system lacks it, a name made and removed at once. -1 when
// `dir` takes no file.
int unnamed_file(const std::string& dir) {
  const int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
  std::string name = dir;
  name += "/.patterntally-mpi-XXXXXX";
  const int named = ::mkostemp(name.data(), O_CLOEXEC);
  if (named >= 0) ::unlink(name.c_str());
  return named;
}

}  // namespace

Spool::Spool() {
  std::vector<std::string> dirs = {"/tmp", "."};
  const char* tmpdir = std::getenv("TMPDIR");
  if (tmpdir != nullptr && *tmpdir != '\0') dirs.insert(dirs.begin(), tmpdir);
  for (const std::string& dir : dirs) {
    out.name = dir;
    out.fd = unnamed_file(dir);
    if (out.fd >= 0) return;
  }
  out.failed = true;
  out.name = dirs.front();
  report_write_failure_reason(out.name, no_spool_reason);
}

Spool::~Spool() {
  if (out.fd >= 0) ::close(out.fd);
}

std::uint64_t Spool::end() {
  flush_output(out);
  const off_t at = out.fd >= 0 ? ::lseek(out.fd, 0, SEEK_CUR) : 0;
  return at > 0 ? static_cast<std::uint64_t>(at) : 0;
}

bool for_each_spooled_line(const SpooledMessages& kept, const std::function<void(std::string_view)>& line) {
  // Read in pieces into one buffer, an unfinished line moved to its front.
  const auto bytes = std::make_unique_for_overwrite<char[]>(2 * piece_size);
  std::size_t capacity = 2 * piece_size;
  std::unique_ptr<char[]> longer;  // for a line longer than a piece
  char* buffer = bytes.get();
  std::size_t held = 0;
  std::size_t unsearched = 0;
  for (std::uint64_t at = 0; at < kept.size;) {
    if (capacity - held < piece_size) {
      capacity *= 2;
      auto grown = std::make_unique_for_overwrite<char[]>(capacity);
      std::memcpy(grown.get(), buffer, held);
      longer = std::move(grown);
      buffer = longer.get();
    }
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(piece_size, kept.size - at));
    const ssize_t got = ::pread(kept.fd, buffer + held, want, static_cast<off_t>(kept.offset + at));
    if (got <= 0) {
      report_read_failure(kept.where, got < 0 ? errno : EIO);
      return false;
    }
    held += static_cast<std::size_t>(got);
    at += static_cast<std::uint64_t>(got);
    const std::string_view text(buffer, held);
    std::size_t start = 0;
    // The unfinished line held no line feed: a long line is searched once.
    for (std::size_t lf = text.find('\n', unsearched); lf != std::string_view::npos;
         start = lf + 1, lf = text.find('\n', start)) {
      if (lf != start) line(text.substr(start, lf - start));
    }
    held -= start;
    unsearched = held;
    std::memmove(buffer, buffer + start, held);
  }
  return true;
}

bool renumber_spooled(const SpooledMessages& kept, std::uint64_t lines_before,
                      const std::function<void(std::string_view)>& put) {
  std::string block;
  block.reserve(piece_size + piece_size / 4);
  const bool read = for_each_spooled_line(kept, [&](std::string_view message) {
    put_renumbered_invalid_byte_message([&block](std::string_view piece) { block += piece; }, message,
                                        lines_before);
    if (block.size() >= piece_size) {
      put(block);
      block.clear();
    }
  });
  if (!block.empty()) put(block);
  return read;
}

void write_spooled(const SpooledMessages& kept, std::uint64_t lines_before, Output& out) {
  renumber_spooled(kept, lines_before, [&out](std::string_view piece) { write_output(out, piece); });
}

void release_spooled(const SpooledMessages& kept) {
  if (kept.size == 0) return;
  static_cast<void>(::fallocate(kept.fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE,
                                static_cast<off_t>(kept.offset), static_cast<off_t>(kept.size)));
}

// Where a rank keeps the messages of the chunks it counted (see spool.h).
#include "spool.h"

#include <fcntl.h>
#include <linux/falloc.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
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

bool renumber_spooled(const SpooledMessages& kept, std::uint64_t lines_before,
                      const std::function<void(std::string_view)>& put) {
  std::string bytes;  // an unfinished line, then what was read after it
  for (std::uint64_t at = 0; at < kept.size;) {
    const std::size_t held = bytes.size();
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(piece_size, kept.size - at));
    bytes.resize(held + want);
    const ssize_t got = ::pread(kept.fd, bytes.data() + held, want, static_cast<off_t>(kept.offset + at));
    if (got <= 0) {
      report_read_failure(kept.where, got < 0 ? errno : EIO);
      return false;
    }
    bytes.resize(held + static_cast<std::size_t>(got));
    at += static_cast<std::uint64_t>(got);
    const std::string_view text = bytes;
    std::size_t line = 0;
    for (std::size_t lf; (lf = text.find('\n', line)) != std::string_view::npos; line = lf + 1) {
      if (lf == line) continue;
      put_renumbered_invalid_byte_message(put, text.substr(line, lf - line), lines_before);
    }
    bytes.erase(0, line);
  }
  return true;
}

void write_spooled(const SpooledMessages& kept, std::uint64_t lines_before, Output& out) {
  renumber_spooled(kept, lines_before, [&out](std::string_view piece) { write_output(out, piece); });
}

void release_spooled(const SpooledMessages& kept) {
  if (kept.size == 0) return;
  static_cast<void>(::fallocate(kept.fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE,
                                static_cast<off_t>(kept.offset), static_cast<off_t>(kept.size)));
}

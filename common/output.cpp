#include "output.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "failure.h"
#include "progress.h"

namespace {

// Temporaries not yet renamed, for remove_temporary_outputs: plain arrays, so
// that a signal handler can read them while the program is anywhere.
constexpr std::size_t temporary_slots = 8;
std::array<std::array<char, PATH_MAX>, temporary_slots> temporary_paths{};
std::array<volatile std::sig_atomic_t, temporary_slots> temporary_in_use{};

// The outputs open now, for the check that no two are the same file.
struct CreatedOutput {
  std::string name;
  std::string target;  // the path written, links followed
  dev_t device = 0;
  ino_t inode = 0;
  bool exists = false;
};
std::vector<CreatedOutput> created_outputs;

bool standard_output_was_closed = false;
std::atomic<bool> control_bytes_kept{false};

void forget_temporary(Output& out);

// Drops what the output holds, and its temporary, for good.
void drop(Output& out) {
  out.failed = true;
  out.buffer.clear();
  out.buffer.shrink_to_fit();
  if (!out.temporary.empty()) {
    ::unlink(out.temporary.c_str());
    forget_temporary(out);
    out.temporary.clear();  // the descriptor is only closed now
  }
}

void fail(Output& out, int error) {
  drop(out);
  report_write_failure(out.name, error);
}

// `other` is quoted already, or "standard output".
void fail_as_same_file(Output& out, const std::string& other) {
  drop(out);
  report_write_failure_reason(out.name, "it is the same file as " + other);
}

std::string directory_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string base_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Whether the link `link` (as lstat found it) at `path` is one that another
// user may have planted: it lies in a sticky world-writable directory, and
// neither that directory's owner nor this user owns it.
bool planted_link(const std::string& path, const struct stat& link) {
  struct stat dir {};
  return ::stat(directory_of(path).c_str(), &dir) == 0 && (dir.st_mode & S_ISVTX) != 0 &&
         (dir.st_mode & S_IWOTH) != 0 && link.st_uid != dir.st_uid && link.st_uid != ::geteuid();
}

// `name` with its symbolic links followed, as far as they lead; the last
// component may not exist. Stops after as many links as the system allows
// in a path, leaving the name for creating to fail on. Sets `planted` when
// one of the links met is a planted_link.
std::string follow_links(const std::string& name, bool& planted) {
  std::string path = name;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    if (planted_link(path, st)) planted = true;
    std::string link(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1, '\0');
    const ssize_t size = ::readlink(path.c_str(), link.data(), link.size());
    if (size < 0 || static_cast<std::size_t>(size) >= link.size()) return path;
    link.resize(static_cast<std::size_t>(size));
    if (!link.starts_with('/') && path.find('/') != std::string::npos) {
      link.insert(0, directory_of(path) + "/");  // relative to the link's directory
    }
    path = std::move(link);
  }
  return path;
}

// How the names of the temporaries of `target` begin.
std::string temporary_name_prefix(const std::string& target) {
  std::string prefix = ".";
  prefix += base_of(target);
  prefix += temporary_marker;
  return prefix;
}

// The target as an absolute path of its directory and its name, for telling
// two names of one file that does not exist yet apart.
std::string canonical_target(const std::string& target) {
  char* dir = ::realpath(directory_of(target).c_str(), nullptr);
  if (dir == nullptr) return target;
  std::string path = dir;
  std::free(dir);
  return path + "/" + base_of(target);
}

std::uint32_t register_temporary(const std::string& path) {
  for (std::uint32_t slot = 0; slot < temporary_slots; ++slot) {
    if (temporary_in_use[slot] != 0 || path.size() >= PATH_MAX) continue;
    std::memcpy(temporary_paths[slot].data(), path.c_str(), path.size() + 1);
    std::atomic_signal_fence(std::memory_order_release);  // the path before the flag
    temporary_in_use[slot] = 1;
    return slot;
  }
  return temporary_slots;
}

void forget_temporary(Output& out) {
  if (out.temporary_slot >= 0) temporary_in_use[static_cast<std::size_t>(out.temporary_slot)] = 0;
  out.temporary_slot = -1;
}

bool is_temporary_suffix(std::string_view rest) {
  if (rest.size() != 6) return false;
  for (char c : rest) {
    if (!std::isalnum(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

// Removes the temporaries of `target` that a run killed outright left behind.
// A live run holds a lock on its temporary, so only those that can be locked
// are gone for good.
void remove_stale_temporaries(const std::string& target) {
  const std::string dir = directory_of(target);
  const std::string prefix = temporary_name_prefix(target);
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return;
  while (const dirent* entry = ::readdir(d)) {
    const std::string_view entry_name = entry->d_name;
    if (!entry_name.starts_with(prefix) || !is_temporary_suffix(entry_name.substr(prefix.size()))) {
      continue;
    }
    const std::string path = dir + "/" + std::string(entry_name);
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat held {};
    struct stat named {};
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &held) == 0 && S_ISREG(held.st_mode) &&
        held.st_uid == ::geteuid() && ::lstat(path.c_str(), &named) == 0 && named.st_ino == held.st_ino &&
        named.st_dev == held.st_dev) {
      ::unlink(path.c_str());
    }
    ::close(fd);
  }
  ::closedir(d);
}

mode_t new_file_mode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

// Creates the temporary beside `out.target`, locked; the errno value on
// failure.
int create_temporary(Output& out) {
  const std::string pattern = directory_of(out.target) + "/" + temporary_name_prefix(out.target) + "XXXXXX";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string path = pattern;
    const int fd = ::mkstemp(path.data());
    if (fd < 0) return errno;
    const std::uint32_t slot = register_temporary(path);
    // A run cleaning up may have taken the new file for a stale one before it
    // was locked; then it is gone, and another is made.
    struct stat held {};
    struct stat named {};
    const int locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : errno;
    if (locked != EWOULDBLOCK && ::fstat(fd, &held) == 0 && ::lstat(path.c_str(), &named) == 0 &&
        held.st_ino == named.st_ino && held.st_dev == named.st_dev) {
      out.fd = fd;
      out.temporary = std::move(path);
      out.temporary_slot = slot < temporary_slots ? static_cast<int>(slot) : -1;
      return 0;
    }
    if (slot < temporary_slots) temporary_in_use[slot] = 0;
    ::close(fd);
  }
  return EEXIST;
}

// Whether standard output is a terminal, where the status line may stand.
bool standard_output_is_terminal() {
  static const bool terminal = ::isatty(1) == 1;
  return terminal;
}

// Writes all of `bytes` to `fd`; 0, or the errno value of a failed write.
int write_fully(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
}

bool is_control_byte(unsigned char c) { return (c < 0x20 && c != '\t' && c != '\n') || c == 0x7F; }

void write_all(Output& out, const char* data, std::size_t size) {
  if (out.pending_error != 0) {
    fail(out, out.pending_error);
    return;
  }
  const bool to_terminal = out.fd == 1 && standard_output_is_terminal();
  if (to_terminal) {
    pause_progress();
    if (size != 0) set_terminal_line_open(data[size - 1] != '\n');
  }
  const std::string_view bytes(data, size);
  const int error =
      to_terminal && escapes_control_bytes(1) ? write_escaped(out.fd, bytes) : write_fully(out.fd, bytes);
  if (error != 0) fail(out, error);
  if (to_terminal) resume_progress();
}

// How a temporary took its target's name (see take_place).
enum class Placed {
  created,    // there was no file: removing the target undoes it
  exchanged,  // the old file traded places with it: trading back undoes it
  replaced,   // renamed over the old file, which is gone
};

// Renames the temporary of `out` over its target. When `undoable`, a target
// that is a regular file trades places with the temporary, and a target that
// does not exist is only created, so that either can be undone; where the file
// system cannot do that, it is a plain rename.
int take_place(const Output& out, bool undoable, Placed& placed) {
  const char* from = out.temporary.c_str();
  const char* to = out.target.c_str();
  struct stat old {};
  const int looked = ::lstat(to, &old) == 0 ? 0 : errno;
  if (undoable && looked == 0 && S_ISREG(old.st_mode)) {
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_EXCHANGE) == 0) {
      placed = Placed::exchanged;
      return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) return errno;
  } else if (undoable && looked == ENOENT) {
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) {
      placed = Placed::created;
      return 0;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != EEXIST) return errno;
  }
  placed = Placed::replaced;
  return ::rename(from, to) == 0 ? 0 : errno;
}

void sync_directory_of(const std::string& path) {
  const int dir = ::open(directory_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return;
  ::fsync(dir);
  ::close(dir);
}

// Renames every temporary of `outs` over its target, or none: a failed rename
// undoes those before it, the latest first. The ending signals wait until it
// is done, so that none can leave one renamed and another not.
void rename_all(const std::vector<Output*>& outs) {
  sigset_t all;
  sigset_t before;
  sigfillset(&all);
  ::pthread_sigmask(SIG_BLOCK, &all, &before);
  const bool undoable = outs.size() > 1;
  std::vector<Placed> placed(outs.size(), Placed::replaced);
  std::size_t done = 0;
  int error = 0;
  while (done < outs.size() && (error = take_place(*outs[done], undoable, placed[done])) == 0) ++done;
  if (error != 0) {
    for (std::size_t i = done; i-- > 0;) {
      const Output& o = *outs[i];
      if (placed[i] == Placed::exchanged) {
        ::renameat2(AT_FDCWD, o.temporary.c_str(), AT_FDCWD, o.target.c_str(), RENAME_EXCHANGE);
      } else if (placed[i] == Placed::created) {
        ::unlink(o.target.c_str());
      }
    }
    fail(*outs[done], error);
    for (Output* o : outs) drop(*o);  // removes what the temporaries' names hold now
  } else {
    // The old files, now under the temporaries' names, go; the renames are
    // made to last.
    for (std::size_t i = 0; i < outs.size(); ++i) {
      if (placed[i] == Placed::exchanged) ::unlink(outs[i]->temporary.c_str());
      sync_directory_of(outs[i]->target);
    }
  }
  for (Output* o : outs) forget_temporary(*o);
  ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

}  // namespace

void protect_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) {
      ::dup2(opened, fd);
      ::close(opened);
    }
    if (fd == 1) standard_output_was_closed = true;
  }
}

void remove_temporary_outputs() {
  for (std::size_t slot = 0; slot < temporary_slots; ++slot) {
    if (temporary_in_use[slot] != 0) ::unlink(temporary_paths[slot].data());
  }
}

Output create_output(const std::string& name, const std::vector<std::string>& inputs) {
  Output out;
  out.name = name;
  // 1. What the name leads to, as the system finds it: a loop of links or a
  //    missing directory fails here as it would on opening; so does a
  //    planted link, whatever the system's own protection.
  bool planted = false;
  const std::string followed = follow_links(name, planted);
  if (planted) {
    drop(out);
    report_write_failure_reason(
        name, "it is a symbolic link in a sticky world-writable directory, owned by another user");
    return out;
  }
  struct stat st {};
  const bool exists = ::stat(name.c_str(), &st) == 0;
  if (!exists && errno != ENOENT) {
    fail(out, errno);
    return out;
  }
  bool in_place = exists && !S_ISREG(st.st_mode);
  if (!in_place) {
    // The file its links lead to is the one replaced. Links whose text does
    // not lead where the lookup does (/dev/stdout, /proc/self/fd/N) are
    // written through, in place.
    out.target = followed;
    struct stat at_end {};
    const bool found = ::stat(out.target.c_str(), &at_end) == 0;
    in_place = found != exists || (exists && (at_end.st_dev != st.st_dev || at_end.st_ino != st.st_ino));
  }
  if (in_place) out.target = name;
  // 2. Never over an input, standard output or another output. Devices such
  //    as /dev/null may stand for several.
  const bool device = exists && S_ISCHR(st.st_mode);
  auto same = [&](const struct stat& other) {
    return exists && !device && other.st_dev == st.st_dev && other.st_ino == st.st_ino;
  };
  for (const std::string& input : inputs) {
    struct stat in {};
    if (::stat(input.c_str(), &in) == 0 && same(in)) {
      fail_as_same_file(out, "\"" + input + "\"");
      return out;
    }
  }
  struct stat standard {};
  if (::fstat(1, &standard) == 0 && S_ISREG(standard.st_mode) && same(standard)) {
    fail_as_same_file(out, "standard output");
    return out;
  }
  const std::string canonical = canonical_target(out.target);
  for (const CreatedOutput& other : created_outputs) {
    if (device) break;
    if ((exists && other.exists && other.device == st.st_dev && other.inode == st.st_ino) ||
        other.target == canonical) {
      fail_as_same_file(out, "\"" + other.name + "\"");
      return out;
    }
  }
  // 3. A device or a FIFO is written in place; a regular file is replaced.
  if (in_place) {
    out.fd = ::open(out.target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (out.fd < 0) {
      fail(out, errno);
      return out;
    }
  } else {
    if (exists && ::faccessat(AT_FDCWD, out.target.c_str(), W_OK, AT_EACCESS) != 0) {
      fail(out, errno);  // a file its owner made read-only stays as it is
      return out;
    }
    remove_stale_temporaries(out.target);
    const int error = create_temporary(out);
    if (error != 0) {
      fail(out, error);
      return out;
    }
    // The owner first (root only; others may keep the group), as a change
    // of owner clears the set-id bits.
    if (exists && (st.st_uid != ::geteuid() || st.st_gid != ::getegid()) &&
        ::fchown(out.fd, st.st_uid, st.st_gid) != 0) {
      [[maybe_unused]] const int kept = ::fchown(out.fd, static_cast<uid_t>(-1), st.st_gid);
    }
    ::fchmod(out.fd, exists ? (st.st_mode & 07777) : new_file_mode());
  }
  created_outputs.push_back({name, canonical, st.st_dev, st.st_ino, exists});
  if (!exists && !out.temporary.empty()) {
    // A new file: its identity is the temporary's until it is renamed.
    struct stat made {};
    if (::fstat(out.fd, &made) == 0) {
      created_outputs.back().device = made.st_dev;
      created_outputs.back().inode = made.st_ino;
    }
  }
  return out;
}

void check_standard_output(const std::vector<std::string>& inputs) {
  struct stat standard {};
  if (::fstat(1, &standard) != 0 || !S_ISREG(standard.st_mode)) return;
  for (const std::string& input : inputs) {
    struct stat in {};
    if (::stat(input.c_str(), &in) == 0 && in.st_dev == standard.st_dev && in.st_ino == standard.st_ino) {
      Output& out = standard_output();
      drop(out);
      report_write_failure_reason("", "it is the same file as \"" + input + "\"");
      return;
    }
  }
}

bool check_standard_input() {
  struct stat standard {};
  struct stat in {};
  if (::fstat(1, &standard) != 0 || !S_ISREG(standard.st_mode) || ::fstat(0, &in) != 0 ||
      in.st_dev != standard.st_dev || in.st_ino != standard.st_ino) {
    return true;
  }
  drop(standard_output());
  report_write_failure_reason("", "it is the same file as standard input");
  return false;
}

Output memory_output() { return Output{}; }

Output& standard_output() {
  static Output out = [] {
    Output o;
    o.fd = 1;
    if (standard_output_was_closed) o.pending_error = EBADF;
    return o;
  }();
  return out;
}

std::recursive_mutex& standard_output_lock() {
  static std::recursive_mutex lock;
  return lock;
}

void flush_output(Output& out) {
  if (out.fd < 0 || out.failed || out.buffer.empty()) return;
  write_all(out, out.buffer.data(), out.buffer.size());
  out.buffer.clear();
}

void flush_full_buffer(Output& out) {
  const std::size_t end = out.buffer.rfind('\n');
  if (out.fd != 1 || out.failed || end == std::string::npos || !standard_output_is_terminal()) {
    flush_output(out);
    return;
  }
  write_all(out, out.buffer.data(), end + 1);
  out.buffer.erase(0, end + 1);
}

void write_through(Output& out, std::string_view bytes) {
  flush_output(out);
  if (!out.failed) write_all(out, bytes.data(), bytes.size());
}

void close_output(Output& out) {
  Output* const outs[] = {&out};
  close_outputs(outs);
}

void close_outputs(std::span<Output* const> outputs) {
  // 1. Every output flushed; those written in place are done, the others'
  //    temporaries are synced.
  std::vector<Output*> renamed;
  bool failed = false;
  for (Output* out : outputs) {
    std::erase_if(created_outputs, [&](const CreatedOutput& o) { return o.name == out->name; });
    flush_output(*out);
    if (out->fd == 1) continue;  // standard output stays open, and answers for itself
    if (out->fd >= 0 && out->temporary.empty()) {
      if (::close(out->fd) != 0 && !out->failed) fail(*out, errno);
      out->fd = -1;
    } else if (out->fd >= 0) {
      if (!out->failed && ::fsync(out->fd) != 0 && errno != EINVAL) fail(*out, errno);
      renamed.push_back(out);
    }
    failed = failed || out->failed;
  }
  // 2. The temporaries take the names only when everything is on disk.
  if (failed) {
    for (Output* out : renamed) drop(*out);
  } else if (!renamed.empty()) {
    rename_all(renamed);
  }
  for (Output* out : renamed) {
    forget_temporary(*out);
    ::close(out->fd);  // after the rename: the lock keeps the temporary from being taken for stale
    out->fd = -1;
  }
}

void discard_output(Output& out) {
  drop(out);
  close_output(out);
}

int write_escaped(int fd, std::string_view bytes) {
  constexpr char hex[] = "0123456789abcdef";
  std::array<char, 4096> shown{};
  while (!bytes.empty()) {
    std::size_t size = 0;
    std::size_t taken = 0;
    for (; taken < bytes.size() && size + 4 <= shown.size(); ++taken) {
      const auto c = static_cast<unsigned char>(bytes[taken]);
      if (!is_control_byte(c)) {
        shown[size++] = static_cast<char>(c);
        continue;
      }
      shown[size++] = '\\';
      shown[size++] = 'x';
      shown[size++] = hex[c >> 4];
      shown[size++] = hex[c & 15];
    }
    bytes.remove_prefix(taken);
    const int error = write_fully(fd, std::string_view(shown.data(), size));
    if (error != 0) return error;
  }
  return 0;
}

bool escapes_control_bytes(int fd) {
  static const bool terminal[2] = {::isatty(1) == 1, ::isatty(2) == 1};
  return (fd == 1 || fd == 2) && terminal[fd - 1] && !control_bytes_kept.load();
}

void keep_control_bytes() { control_bytes_kept.store(true); }

void write_held_standard_output() {
  Output& out = standard_output();
  if (out.failed || out.pending_error != 0 || out.fd < 0) return;
  if (escapes_control_bytes(1)) {
    write_escaped(out.fd, out.buffer);
  } else {
    write_fully(out.fd, out.buffer);
  }
}

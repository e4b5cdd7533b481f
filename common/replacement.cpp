#include "replacement.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <vector>

namespace {

// Temporaries not yet renamed, for remove_temporaries: plain arrays, so that
// a signal handler can read them while the program is anywhere.
constexpr std::size_t temporary_slots = 8;
std::array<std::array<char, PATH_MAX>, temporary_slots> temporary_paths{};
std::array<volatile std::sig_atomic_t, temporary_slots> temporary_in_use{};

// How the names of the temporaries of `target` begin.
std::string temporary_name_prefix(const std::string& target) {
  std::string prefix = ".";
  prefix += base_of(target);
  prefix += temporary_marker;
  return prefix;
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

bool is_temporary_suffix(std::string_view rest) {
  if (rest.size() != 6) return false;
  for (char c : rest) {
    if (!std::isalnum(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

// Whether `name` is that of a temporary: "." NAME marker XXXXXX.
bool is_temporary_name(std::string_view name) {
  constexpr std::size_t suffix = 6;
  if (name.size() < 2 + temporary_marker.size() + suffix || name.front() != '.') return false;
  const std::string_view tail = name.substr(name.size() - temporary_marker.size() - suffix);
  return tail.starts_with(temporary_marker) && is_temporary_suffix(tail.substr(temporary_marker.size()));
}

// Removes the temporaries beside `target` that runs killed outright left
// behind, whatever output they were to replace: a run that wrote an output
// once may never write it again. A live run holds a lock on its temporary,
// so only those that can be locked are gone for good.
void remove_stale_temporaries(const std::string& target) {
  const std::string dir = directory_of(target);
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return;
  while (const dirent* entry = ::readdir(d)) {
    const std::string_view entry_name = entry->d_name;
    if (!is_temporary_name(entry_name)) continue;
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

// Makes the temporary beside `t.target`, locked and listed.
int make_locked_temporary(Temporary& t, int& fd) {
  const std::string pattern = directory_of(t.target) + "/" + temporary_name_prefix(t.target) + "XXXXXX";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string path = pattern;
    const int made = ::mkstemp(path.data());
    if (made < 0) return errno;
    const std::uint32_t slot = register_temporary(path);
    // A run cleaning up may have taken the new file for a stale one before it
    // was locked; then it is gone, and another is made.
    struct stat held {};
    struct stat named {};
    const int locked = ::flock(made, LOCK_EX | LOCK_NB) == 0 ? 0 : errno;
    if (locked != EWOULDBLOCK && ::fstat(made, &held) == 0 && ::lstat(path.c_str(), &named) == 0 &&
        held.st_ino == named.st_ino && held.st_dev == named.st_dev) {
      fd = made;
      t.path = std::move(path);
      t.slot = slot < temporary_slots ? static_cast<int>(slot) : -1;
      return 0;
    }
    if (slot < temporary_slots) temporary_in_use[slot] = 0;
    ::close(made);
  }
  return EEXIST;
}

// How a temporary took its target's name (see take_place).
enum class Placed {
  created,    // there was no file: removing the target undoes it
  exchanged,  // the old file traded places with it: trading back undoes it
  replaced,   // renamed over the old file, which is gone
};

// Renames `t` over its target. When `undoable`, a target that is a regular
// file trades places with the temporary, and a target that does not exist is
// only created, so that either can be undone; where the file system cannot do
// that, it is a plain rename.
int take_place(const Temporary& t, bool undoable, Placed& placed) {
  const char* from = t.path.c_str();
  const char* to = t.target.c_str();
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

void undo_place(const Temporary& t, Placed placed) {
  if (placed == Placed::exchanged) {
    ::renameat2(AT_FDCWD, t.path.c_str(), AT_FDCWD, t.target.c_str(), RENAME_EXCHANGE);
  } else if (placed == Placed::created) {
    ::unlink(t.target.c_str());
  }
}

void sync_directory_of(const std::string& path) {
  const int dir = ::open(directory_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return;
  ::fsync(dir);
  ::close(dir);
}

}  // namespace

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

int create_temporary(Temporary& t, const struct stat* existing, int& fd) {
  remove_stale_temporaries(t.target);
  const int error = make_locked_temporary(t, fd);
  if (error != 0) return error;
  // The owner first (root only; others may keep the group), as a change of
  // owner clears the set-id bits.
  if (existing != nullptr && (existing->st_uid != ::geteuid() || existing->st_gid != ::getegid()) &&
      ::fchown(fd, existing->st_uid, existing->st_gid) != 0) {
    [[maybe_unused]] const int kept = ::fchown(fd, static_cast<uid_t>(-1), existing->st_gid);
  }
  ::fchmod(fd, existing != nullptr ? (existing->st_mode & 07777) : new_file_mode());
  return 0;
}

void remove_temporary(Temporary& t) {
  if (t.path.empty()) return;
  ::unlink(t.path.c_str());
  forget_temporary(t);
  t.path.clear();
}

void forget_temporary(Temporary& t) {
  if (t.slot >= 0) temporary_in_use[static_cast<std::size_t>(t.slot)] = 0;
  t.slot = -1;
}

int rename_together(std::span<Temporary* const> temporaries, std::size_t& failed) {
  sigset_t all;
  sigset_t before;
  sigfillset(&all);
  ::pthread_sigmask(SIG_BLOCK, &all, &before);
  const bool undoable = temporaries.size() > 1;
  std::vector<Placed> placed(temporaries.size(), Placed::replaced);
  std::size_t done = 0;
  int error = 0;
  while (done < temporaries.size() && (error = take_place(*temporaries[done], undoable, placed[done])) == 0) {
    ++done;
  }
  if (error != 0) {
    for (std::size_t i = done; i-- > 0;) undo_place(*temporaries[i], placed[i]);
    failed = done;
  } else {
    // The old files, now under the temporaries' names, go; the renames are
    // made to last.
    for (std::size_t i = 0; i < temporaries.size(); ++i) {
      if (placed[i] == Placed::exchanged) ::unlink(temporaries[i]->path.c_str());
      sync_directory_of(temporaries[i]->target);
      forget_temporary(*temporaries[i]);
    }
  }
  ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
  return error;
}

void remove_temporaries() {
  for (std::size_t slot = 0; slot < temporary_slots; ++slot) {
    if (temporary_in_use[slot] != 0) ::unlink(temporary_paths[slot].data());
  }
}

#include "output_place.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <utility>

#include "replacement.h"

namespace {

// The outputs open now, for the check that no two are the same file.
struct OpenOutput {
  std::string name;
  std::string target;  // the path written, links followed, made absolute
  dev_t device = 0;
  ino_t inode = 0;
  bool exists = false;
};
std::vector<OpenOutput> open_outputs;

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

// The target as an absolute path of its directory and its name, for telling
// two names of one file that does not exist yet apart.
std::string canonical_target(const std::string& target) {
  char* dir = ::realpath(directory_of(target).c_str(), nullptr);
  if (dir == nullptr) return target;
  std::string path = dir;
  std::free(dir);
  return path + "/" + base_of(target);
}

// The file a run writes, found where `place` leads: which output open now
// it is the same as, if any.
const OpenOutput* open_output_at(const OutputPlace& place, bool device) {
  if (device) return nullptr;
  for (const OpenOutput& other : open_outputs) {
    if ((place.exists && other.exists && other.device == place.found.st_dev &&
         other.inode == place.found.st_ino) ||
        other.target == place.canonical) {
      return &other;
    }
  }
  return nullptr;
}

}  // namespace

Refusal place_output(const std::string& name, const std::vector<std::string>& inputs, OutputPlace& place) {
  // 1. What the name leads to, as the system finds it: a loop of links or a
  //    missing directory fails here as it would on opening; so does a
  //    planted link, whatever the system's own protection.
  bool planted = false;
  const std::string followed = follow_links(name, planted);
  if (planted) return {Clash::planted_link, 0, {}};
  const struct stat& st = place.found;
  place.exists = ::stat(name.c_str(), &place.found) == 0;
  if (!place.exists && errno != ENOENT) return {Clash::error, errno, {}};
  place.in_place = place.exists && !S_ISREG(st.st_mode);
  if (!place.in_place) {
    // The file its links lead to is the one replaced. Links whose text does
    // not lead where the lookup does (/dev/stdout, /proc/self/fd/N) are
    // written through, in place.
    place.target = followed;
    struct stat at_end {};
    const bool found = ::stat(place.target.c_str(), &at_end) == 0;
    place.in_place =
        found != place.exists || (place.exists && (at_end.st_dev != st.st_dev || at_end.st_ino != st.st_ino));
  }
  if (place.in_place) place.target = name;
  // 2. Never over an input, standard output or another output. Devices such
  //    as /dev/null may stand for several.
  const bool device = place.exists && S_ISCHR(st.st_mode);
  auto same = [&](const struct stat& other) {
    return place.exists && !device && other.st_dev == st.st_dev && other.st_ino == st.st_ino;
  };
  for (const std::string& input : inputs) {
    struct stat in {};
    if (input == "-") {
      if (::fstat(0, &in) == 0 && S_ISREG(in.st_mode) && same(in)) return {Clash::standard_input, 0, {}};
    } else if (::stat(input.c_str(), &in) == 0 && same(in)) {
      return {Clash::input, 0, input};
    }
  }
  struct stat standard {};
  if (::fstat(1, &standard) == 0 && S_ISREG(standard.st_mode) && same(standard)) {
    return {Clash::standard_output, 0, {}};
  }
  place.canonical = canonical_target(place.target);
  if (const OpenOutput* other = open_output_at(place, device)) return {Clash::open_output, 0, other->name};
  return {};
}

void note_open_output(const std::string& name, const OutputPlace& place, int fd) {
  OpenOutput& open = open_outputs.emplace_back(
      OpenOutput{name, place.canonical, place.found.st_dev, place.found.st_ino, place.exists});
  if (!place.exists && !place.in_place) {
    // A new file: its identity is the temporary's until it is renamed.
    struct stat made {};
    if (::fstat(fd, &made) == 0) {
      open.device = made.st_dev;
      open.inode = made.st_ino;
    }
  }
}

void forget_output(const std::string& name) {
  std::erase_if(open_outputs, [&](const OpenOutput& o) { return o.name == name; });
}

const std::string* standard_output_among(const std::vector<std::string>& inputs) {
  struct stat standard {};
  if (::fstat(1, &standard) != 0 || !S_ISREG(standard.st_mode)) return nullptr;
  for (const std::string& input : inputs) {
    struct stat in {};
    if (input == "-") continue;  // see standard_output_is_standard_input
    if (::stat(input.c_str(), &in) == 0 && in.st_dev == standard.st_dev && in.st_ino == standard.st_ino) {
      return &input;
    }
  }
  return nullptr;
}

bool standard_output_is_standard_input() {
  struct stat standard {};
  struct stat in {};
  return ::fstat(1, &standard) == 0 && S_ISREG(standard.st_mode) && ::fstat(0, &in) == 0 &&
         in.st_dev == standard.st_dev && in.st_ino == standard.st_ino;
}

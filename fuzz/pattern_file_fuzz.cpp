// Fuzzes the definition file reader. The first input byte L splits the rest:
// its first L bytes are a valid-character file, the others a definition file
// read against that list, the way patterntally reads its files. Both lists and
// all messages are compared with a reading made straight from the rules, with
// linear searches over plain lines.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "pattern_file.h"

namespace {

[[noreturn]] void fail() { __builtin_trap(); }

// A temporary file that lives as long as the process.
struct TempFile {
  std::string path;
  int fd = -1;
};

std::string temp_paths[2];  // removed at exit

void remove_temp_files() {
  for (const std::string& path : temp_paths) {
    if (!path.empty()) ::unlink(path.c_str());
  }
}

TempFile make_temp_file(int which, const char* tag) {
  const char* dir = std::getenv("TMPDIR");
  TempFile f;
  f.path = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/" + tag + ".XXXXXX";
  f.fd = ::mkstemp(f.path.data());
  if (f.fd < 0) std::abort();
  temp_paths[which] = f.path;
  if (which == 0) std::atexit(remove_temp_files);
  return f;
}

void store(const TempFile& f, std::string_view bytes) {
  if (::ftruncate(f.fd, 0) != 0) std::abort();
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::pwrite(f.fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
    if (n <= 0) std::abort();
    done += static_cast<std::size_t>(n);
  }
}

struct Reading {
  PatternList list;
  std::string messages;
};

Reading reference_read(std::string_view bytes, const std::string& name, const PatternList& valid) {
  Reading r;
  std::uint64_t n = 0;
  auto message = [&](const char* what, std::string_view quoted) {
    r.messages += std::string("- ") + what + " in line " + std::to_string(n) + " (\"" + std::string(quoted) +
                  "\") in file \"" + name + "\": IGNORING LINE\n";
  };
  std::size_t at = 0;
  while (at < bytes.size()) {
    std::size_t lf = bytes.find('\n', at);
    if (lf == std::string_view::npos) lf = bytes.size();
    const std::string_view line = bytes.substr(at, lf - at);
    at = lf + 1;
    ++n;
    const std::size_t open = line.find('<');
    const std::size_t close = line.rfind('>');
    if (open == std::string_view::npos) {
      message("No starting character \"<\"", line);
      continue;
    }
    if (close == std::string_view::npos || close < open) {
      message("No ending character \">\"", line);
      continue;
    }
    const std::string text(line.substr(open + 1, close - open - 1));
    bool ok = true;
    for (char c : text) {
      const std::string one(1, c);
      if (!valid.empty() && std::find(valid.begin(), valid.end(), one) == valid.end()) ok = false;
    }
    if (!ok) {
      message("Invalid character", text);
      continue;
    }
    if (!text.empty() && std::find(r.list.begin(), r.list.end(), text) == r.list.end()) {
      r.list.push_back(text);
    }
  }
  return r;
}

// The reader's result must hold the reference's patterns, longest first; the
// order within one length is free.
void check(const Reading& expected, const PatternList& got, const std::string& messages) {
  if (messages != expected.messages) fail();
  for (std::size_t i = 0; i < got.size(); ++i) {
    if (got[i].empty()) fail();
    if (i > 0 && got[i - 1].size() < got[i].size()) fail();
  }
  PatternList a = expected.list;
  PatternList b = got;
  std::sort(a.begin(), a.end());
  std::sort(b.begin(), b.end());
  if (a != b) fail();
  if (std::adjacent_find(b.begin(), b.end()) != b.end()) fail();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const TempFile valid_file = make_temp_file(0, "pattern_file_fuzz-valid");
  static const TempFile other_file = make_temp_file(1, "pattern_file_fuzz-other");
  if (size == 0) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::size_t split = std::min<std::size_t>(data[0], input.size());
  const std::string_view valid_bytes = input.substr(0, split);
  const std::string_view other_bytes = input.substr(split);
  store(valid_file, valid_bytes);
  store(other_file, other_bytes);

  Output messages = memory_output();
  const PatternList valid = read_strings_from_file(valid_file.path, {}, messages);
  const Reading expected_valid = reference_read(valid_bytes, valid_file.path, {});
  check(expected_valid, valid, messages.buffer);

  Output more = memory_output();
  const PatternList other = read_strings_from_file(other_file.path, valid, more);
  check(reference_read(other_bytes, other_file.path, expected_valid.list), other, more.buffer);
  return 0;
}

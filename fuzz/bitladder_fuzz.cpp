// Fuzzes the whole bitladder run: the input becomes
// "patterns_ordered_by_frequency.txt" in a private directory, run_bitladder()
// runs there with standard output going to a file, and the code map, the
// messages and the summary are compared with what the rules give. The codes
// are made by the generation rule (generation L+1 = "10" + generation L-1,
// then "1" + generation L), independently of the program's code stepping.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "bitladder.h"
#include "trim.h"

namespace {

[[noreturn]] void fail() { __builtin_trap(); }

struct Sandbox {
  std::string dir;
  int dir_fd = -1;
  int out_fd = -1;  // standard output of the run
};

std::string sandbox_dir;  // removed at exit

void remove_sandbox() {
  for (const char* name : {"stdout", ranked_file, code_map_file}) {
    ::unlink((sandbox_dir + "/" + name).c_str());
  }
  ::rmdir(sandbox_dir.c_str());
}

Sandbox make_sandbox() {
  Sandbox s;
  const char* tmp = std::getenv("TMPDIR");
  s.dir = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/bitladder_fuzz.XXXXXX";
  if (::mkdtemp(s.dir.data()) == nullptr) std::abort();
  s.dir_fd = ::open(s.dir.c_str(), O_RDONLY | O_DIRECTORY);
  s.out_fd = ::open((s.dir + "/stdout").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  if (s.dir_fd < 0 || s.out_fd < 0) std::abort();
  sandbox_dir = s.dir;
  std::atexit(remove_sandbox);
  // The run writes its messages to file descriptor 1; the fuzzer reports on 2.
  if (::dup2(s.out_fd, 1) < 0) std::abort();
  return s;
}

std::string read_all(int fd) {
  std::string bytes;
  char buffer[1 << 16];
  for (off_t at = 0;;) {
    const ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
    if (n < 0) std::abort();
    if (n == 0) return bytes;
    bytes.append(buffer, static_cast<std::size_t>(n));
    at += n;
  }
}

void write_all(int fd, std::string_view bytes) {
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) std::abort();
    done += static_cast<std::size_t>(n);
  }
}

// The code words in order, a generation at a time.
struct Codes {
  std::vector<std::string> before{};  // generation L-1
  std::vector<std::string> current{"1"};
  std::size_t index = 0;
  std::size_t length = 1;

  std::string next() {
    if (index == current.size()) {
      std::vector<std::string> following;
      if (length == 1) {
        following = {"11"};
      } else {
        for (const std::string& c : before) following.push_back("10" + c);
        for (const std::string& c : current) following.push_back("1" + c);
      }
      before = std::move(current);
      current = std::move(following);
      index = 0;
      ++length;
    }
    return current[index++];
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const Sandbox sandbox = make_sandbox();
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  // Expected code map and standard output.
  std::string expected_map;
  std::string expected_out;
  std::set<std::string> coded;
  Codes codes;
  std::uint64_t total = 0;
  std::size_t longest = 0;
  for (std::size_t at = 0; at < input.size();) {
    std::size_t lf = input.find('\n', at);
    if (lf == std::string_view::npos) lf = input.size();
    const std::string line(trim_view(input.substr(at, lf - at)));
    at = lf + 1;
    if (line.empty() || !coded.insert(line).second) {
      expected_out += "More than one \"" + line + "\"\n";
      continue;
    }
    const std::string code = codes.next();
    longest = code.size();
    ++total;
    expected_map += code + " " + line + "\n";
  }
  expected_out += "\nTOTAL NUMBER OF CODES:   " + std::to_string(total) +
                  "\nMAXIMUM LENGTH OF CODES: " + std::to_string(longest) + "\n";

  // The run, in the sandbox.
  const int input_fd = ::openat(sandbox.dir_fd, ranked_file, O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (input_fd < 0) std::abort();
  write_all(input_fd, input);
  ::close(input_fd);
  if (::ftruncate(sandbox.out_fd, 0) != 0 || ::lseek(sandbox.out_fd, 0, SEEK_SET) != 0) std::abort();
  const int here = ::open(".", O_RDONLY | O_DIRECTORY);
  if (here < 0 || ::fchdir(sandbox.dir_fd) != 0) std::abort();
  const int status = run_bitladder();
  if (::fchdir(here) != 0) std::abort();
  ::close(here);

  if (status != 0) fail();
  if (read_all(sandbox.out_fd) != expected_out) fail();
  const int map_fd = ::openat(sandbox.dir_fd, code_map_file, O_RDONLY);
  if (map_fd < 0) fail();
  const std::string map = read_all(map_fd);
  ::close(map_fd);
  if (map != expected_map) fail();
  return 0;
}

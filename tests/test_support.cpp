#include "test_support.h"

#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace {

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

}  // namespace

Scratch::~Scratch() {
  if (dir.empty()) return;
  std::error_code ignored;
  fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(dir, ignored);
}

void make_scratch(Scratch& s, const std::string& tag) {
  static std::atomic<int> counter{0};
  s.dir = fs::temp_directory_path() /
          ("patternladder-" + tag + "-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
  fs::remove_all(s.dir);
  fs::create_directories(s.dir);
}

void put_file(const Scratch& s, const std::string& name, const std::string& bytes) {
  std::ofstream out(s.dir / name, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void put_files(const Scratch& s, const Files& files) {
  for (const auto& [name, bytes] : files) put_file(s, name, bytes);
}

std::string get_file(const Scratch& s, const std::string& name) {
  std::ifstream in(s.dir / name, std::ios::binary);
  if (!in) return "<missing>";
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

RunResult run_in(const Scratch& s, const std::string& program, const std::string& redirect_stdout,
                 const std::string& shell_prefix, const std::string& arguments) {
  const fs::path out = s.dir.parent_path() / (s.dir.filename().string() + ".stdout");
  const fs::path err = s.dir.parent_path() / (s.dir.filename().string() + ".stderr");
  const std::string stdout_to = redirect_stdout.empty() ? "> '" + out.string() + "'" : redirect_stdout;
  const std::string command = "cd '" + s.dir.string() + "' && " + shell_prefix + "'" + program + "'" +
                              arguments + " </dev/null " + stdout_to + " 2> '" + err.string() + "'";
  const int raw = std::system(command.c_str());
  RunResult r;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = redirect_stdout.empty() ? slurp(out) : "";
  r.err = slurp(err);
  fs::remove(out);
  fs::remove(err);
  return r;
}

RunResult run_with_input(const Scratch& s, const std::string& program, const std::string& arguments,
                         const std::string& input) {
  const std::string base = s.dir.string();
  std::ofstream(base + ".in", std::ios::binary) << input;
  const std::string command = "cd '" + base + "' && '" + program + "' " + arguments + " <'" + base +
                              ".in' >'" + base + ".out' 2>'" + base + ".err'";
  const int raw = std::system(command.c_str());
  RunResult r;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = slurp(base + ".out");
  r.err = slurp(base + ".err");
  for (const char* end : {".in", ".out", ".err"}) fs::remove(base + end);
  return r;
}

std::string run_on_terminal(const Scratch& s, const std::string& command, int& status) {
  winsize size{};
  size.ws_col = 200;
  int master = -1;
  const std::string line = (s.dir.empty() ? "" : "cd '" + s.dir.string() + "' && ") + command + " </dev/null";
  const pid_t pid = ::forkpty(&master, nullptr, nullptr, &size);
  if (pid == 0) {
    ::execl("/bin/sh", "sh", "-c", line.c_str(), nullptr);
    ::_exit(127);
  }
  std::string terminal;
  pollfd ready{master, POLLIN, 0};
  char bytes[1 << 16];
  ssize_t got = 0;
  while (::poll(&ready, 1, 120000) == 1 && (got = ::read(master, bytes, sizeof bytes)) > 0) {
    terminal.append(bytes, static_cast<std::size_t>(got));
  }
  if (got > 0) ::kill(pid, SIGKILL);  // hung: the comparisons fail
  int raw = 0;
  ::waitpid(pid, &raw, 0);
  ::close(master);
  status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return terminal;
}

std::string list_files(const Scratch& s) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(s.dir)) names.insert(entry.path().filename().string());
  std::string all;
  for (const auto& name : names) all += name + "\n";
  return all;
}

std::string ignored_line(const std::string& what, std::uint64_t n, const std::string& quoted,
                         const std::string& file) {
  return "- " + what + " in line " + std::to_string(n) + " (\"" + quoted + "\") in file \"" + file +
         "\": IGNORING LINE\n";
}

std::string invalid_char(char c, std::uint64_t n, const std::string& trimmed) {
  return std::string("- Invalid character \"") + c + "\" in line " + std::to_string(n) + " (\"" + trimmed +
         "\") in file \"websites.txt\": IGNORING CHARACTER\n";
}

std::string repeated(const std::string& line) { return "More than one \"" + line + "\"\n"; }

std::string codes_summary(std::size_t total, std::size_t longest) {
  return "\nTOTAL NUMBER OF CODES:   " + std::to_string(total) +
         "\nMAXIMUM LENGTH OF CODES: " + std::to_string(longest) + "\n";
}

std::string missing_note(const std::string& program, const std::string& file) {
  return program + ": note: \"" + file + "\" does not exist and reads as empty\n";
}

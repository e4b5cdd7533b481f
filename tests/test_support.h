// What the tests share: scratch directories and a working directory to stand
// in, and running the built programs in a scratch directory: seed the files,
// run, and read back standard output, standard error, exit status and files.
#pragma once

#include <filesystem>
#include <map>
#include <string>

// A directory that is removed with everything in it when it goes out of scope.
struct Scratch {
  std::filesystem::path dir;
  Scratch() = default;
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  ~Scratch();
};

// Makes `s` a new empty directory under the system's temporary directory;
// `tag` names it.
void make_scratch(Scratch& s, const std::string& tag);

// Makes `dir` the working directory until it goes out of scope.
struct WorkingDirectory {
  std::filesystem::path previous = std::filesystem::current_path();
  explicit WorkingDirectory(const std::filesystem::path& dir) { std::filesystem::current_path(dir); }
  WorkingDirectory(const WorkingDirectory&) = delete;
  WorkingDirectory& operator=(const WorkingDirectory&) = delete;
  ~WorkingDirectory() { std::filesystem::current_path(previous); }
};

// Writes `bytes` to `name` in the scratch directory.
void put_file(const Scratch& s, const std::string& name, const std::string& bytes);

// The bytes of `name`, or "<missing>" when there is no such file.
std::string get_file(const Scratch& s, const std::string& name);

struct RunResult {
  std::string out;  // standard output
  std::string err;  // standard error
  int status = -1;  // exit status
};

// Runs `program` (a path) in the scratch directory with no standard input;
// `redirect_stdout` replaces the capture of standard output (e.g. ">/dev/full"),
// `shell_prefix` comes before the program in the shell command (e.g.
// "umask 077 && exec "), and `arguments` after it.
RunResult run_in(const Scratch& s, const std::string& program, const std::string& redirect_stdout = "",
                 const std::string& shell_prefix = "", const std::string& arguments = "");

// Runs `program` with `arguments` in the scratch directory, with `input` on
// standard input (from a file beside the directory, also when empty).
RunResult run_with_input(const Scratch& s, const std::string& program, const std::string& arguments,
                         const std::string& input);

// Runs `command` with sh, in the scratch directory when `s` has one, with no
// standard input and its standard output and error on one pseudo-terminal of
// 200 columns; returns all that the terminal got, and sets `status` (-1 when
// it did not exit). A run silent for 120 s is taken for hung and killed.
std::string run_on_terminal(const Scratch& s, const std::string& command, int& status);

// The names of all entries in the scratch directory, sorted.
std::string list_files(const Scratch& s);

// The built programs.
inline const std::string patterntally = PATTERNTALLY_PATH;
inline const std::string bitladder = BITLADDER_PATH;
inline const std::string varicode = VARICODE_PATH;

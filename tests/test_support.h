// What the tests share: scratch directories and a working directory to stand
// in; running the built programs in a scratch directory (seed the files, run,
// and read back standard output, standard error, exit status and files); the
// fixed file names; and the message lines the programs are to write, spelled
// out here byte for byte rather than built by the programs' own code.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

#include "file_names.h"

// File names to bytes.
using Files = std::map<std::string, std::string>;

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

// Writes each of `files`.
void put_files(const Scratch& s, const Files& files);

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

// "- WHAT in line N ("QUOTED") in file "FILE": IGNORING LINE", for a line of a
// definition file that is left out.
std::string ignored_line(const std::string& what, std::uint64_t n, const std::string& quoted,
                         const std::string& file);
inline const std::string no_start = "No starting character \"<\"";
inline const std::string no_end = "No ending character \">\"";
inline const std::string bad_char = "Invalid character";

// "- Invalid character "C" in line N ("TRIMMED") in file "websites.txt":
// IGNORING CHARACTER", for a byte of the corpus that is skipped.
std::string invalid_char(char c, std::uint64_t n, const std::string& trimmed);

// bitladder's line for a repeated pattern line.
std::string repeated(const std::string& line);

// bitladder's closing summary.
std::string codes_summary(std::size_t total, std::size_t longest);

// The note of a missing input file that reads as empty.
std::string missing_note(const std::string& program, const std::string& file);

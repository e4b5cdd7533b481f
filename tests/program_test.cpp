// The command line as read_command_line takes it: options before, between
// and after the operands, bundles, attached and separate arguments, "--",
// and each usage error quoting the option as it was written, wherever
// getopt_long has moved it.
#include "program.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "output.h"

namespace {

struct Read {
  int status = 0;
  std::string err;
  std::vector<std::string> operands;
  unsigned threads = 1;
  std::uint64_t sample = 0;
  std::string output;
};

// Reads "prog ARGS..." with every option of `options` given a place in the
// result (operands only when `with_operands`).
Read read(std::vector<std::string> args, bool with_operands = true) {
  args.insert(args.begin(), "prog");
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  Read r;
  set_program_name("prog");
  testing::internal::CaptureStderr();
  r.status = read_command_line(static_cast<int>(args.size()), argv.data(), "usage\n", "version\n",
                               {.threads = &r.threads,
                                .operands = with_operands ? &r.operands : nullptr,
                                .sample = &r.sample,
                                .output = &r.output});
  r.err = testing::internal::GetCapturedStderr();
  return r;
}

std::string joined(const std::vector<std::string>& args) {
  std::string line = "prog";
  for (const std::string& arg : args) line += " " + arg;
  return line;
}

}  // namespace

TEST(Program, TakesOptionsAroundOperands) {
  struct Row {
    std::vector<std::string> args, operands;
    unsigned threads;
    std::uint64_t sample;
    std::string output;
  };
  const std::vector<Row> rows = {
      {{}, {}, 1, 0, ""},
      {{"encode", "a", "-"}, {"encode", "a", "-"}, 1, 0, ""},
      {{"-j4", "encode"}, {"encode"}, 4, 0, ""},
      {{"encode", "--threads=4", "x"}, {"encode", "x"}, 4, 0, ""},
      {{"-j", "0", "encode"}, {"encode"}, 1, 0, ""},
      {{"-C", ".", "encode", "--", "-j4", "--bogus"}, {"encode", "-j4", "--bogus"}, 1, 0, ""},
      {{"suggest", "--sample", "10", "5", "-oout.txt"}, {"suggest", "5"}, 1, 10, "out.txt"},
      {{"suggest", "--output=a", "--out", "b", "5"}, {"suggest", "5"}, 1, 0, "b"},
      {{"-j1024", "--sample=999999999999999999"}, {}, 1024, 999999999999999999, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(joined(row.args));
    const Read r = read(row.args);
    EXPECT_EQ(-1, r.status);
    EXPECT_EQ("", r.err);
    EXPECT_EQ(row.operands, r.operands);
    EXPECT_EQ(row.threads, r.threads);
    EXPECT_EQ(row.sample, r.sample);
    EXPECT_EQ(row.output, r.output);
  }
}

// Each usage error, with the option as it was written: getopt_long moves the
// operands, so the argument before the option may be anything.
TEST(Program, QuotesTheOptionAsWritten) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> rows = {
      {{"encode", "--bogus"}, "unrecognized option \"--bogus\""},
      {{"encode", "--bogus=1"}, "unrecognized option \"--bogus=1\""},
      {{"a", "--version=1"}, "unrecognized option \"--version=1\""},
      {{"a", "--help=1"}, "unrecognized option \"--help=1\""},
      {{"encode", "-V"}, "unrecognized option \"-V\""},
      {{"encode", "-hxj4"}, "unrecognized option \"-x\""},
      {{"--no-progress", "-xh"}, "unrecognized option \"-x\""},
      {{"suggest", "5", "--sample"}, "option \"--sample\" needs an argument"},
      {{"a", "b", "--thr"}, "option \"--thr\" needs an argument"},
      {{"encode", "-hj"}, "option \"-j\" needs an argument"},
      {{"-j", "x"}, "invalid number of threads \"x\""},
      {{"-j1025"}, "invalid number of threads \"1025\""},
      {{"--sample=-1"}, "invalid number of lines \"-1\""},
      {{"--sample=1000000000000000000"}, "invalid number of lines \"1000000000000000000\""},
      {{"-j+1"}, "invalid number of threads \"+1\""},
      {{"-o", ""}, "the output file name is empty"},
  };
  for (const auto& [args, err] : rows) {
    SCOPED_TRACE(joined(args));
    const Read r = read(args);
    EXPECT_EQ(2, r.status);
    EXPECT_EQ("prog: " + err + "\nTry 'prog --help'.\n", r.err);
  }
  // Without operands, options stop at the first argument, which is an error.
  EXPECT_EQ("prog: unexpected argument \"x\"\nTry 'prog --help'.\n", read({"-j2", "x", "-j3"}, false).err);
}

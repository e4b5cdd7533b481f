// The command line: --help, -h or --version prints its text and touches no
// file; any other argument is a usage error that touches no file either.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>
#include <vector>

#include "test_support.h"

namespace {

// Every input of patterntally and bitladder, and stale outputs that a run would replace.
const Files seeded_files = {
    {"websites.txt", "ab\nab#\n"},
    {"patterns_valid_chars.txt", "<a>\n<b>\n"},
    {"patterns_recurrent.txt", "<ab>\n"},
    {"patterns_start.txt", ""},
    {"patterns_and_frequencies.txt", "stale\n"},
    {"patterns_ordered_by_frequency.txt", "<b>\n<a>\n"},
    {"map_varicodes.txt", "stale\n"},
};

}  // namespace

TEST(Cli, HelpAndVersionTouchNoFile) {
  for (const std::string& program : {patterntally, bitladder}) {
    const std::string name = std::filesystem::path(program).filename().string();
    for (const std::string option : {"--help", "-h", "--he", "--version", "--vers"}) {
      SCOPED_TRACE(name + " " + option);
      Scratch s;
      make_scratch(s, "cli");
      put_files(s, seeded_files);
      const std::string before = list_files(s);
      const RunResult r = run_in(s, program, "", "", " " + option);
      EXPECT_EQ(0, r.status);
      EXPECT_EQ("", r.err);
      if (option.starts_with("--v")) {
        EXPECT_EQ(
            name + " " PATTERNLADDER_VERSION
                   "\nCopyright (C) 2026 The patternladder authors.\n"
                   "License MIT: <https://opensource.org/license/mit>. This is free software: you are free\n"
                   "to change and redistribute it. There is NO WARRANTY, to the extent permitted by law.\n",
            r.out);
      } else {
        const std::string first = r.out.substr(0, r.out.find('\n') + 1);  // options may follow
        EXPECT_TRUE(first == "Usage: " + name + "\n" || first.starts_with("Usage: " + name + " ")) << first;
        EXPECT_NE(std::string::npos,
                  r.out.find("man " + name + " (man/" + name + ".1 in the source tree)\n"));
      }
      EXPECT_EQ(before, list_files(s));
      for (const auto& [file, bytes] : seeded_files) EXPECT_EQ(bytes, get_file(s, file)) << file;
    }
  }
}

TEST(Cli, HelpOnFullOutputIsAReportedFailure) {
  Scratch s;
  make_scratch(s, "cli-full");
  const RunResult r = run_in(s, patterntally, ">/dev/full", "", " --help");
  EXPECT_EQ(1, r.status);
  EXPECT_EQ("patterntally: cannot write standard output: No space left on device\n", r.err);
  EXPECT_EQ("", list_files(s));
}

// Typing errors: two lines on standard error, exit status 2, and the earlier
// results stay as they are.
TEST(Cli, OtherArgumentsAreUsageErrors) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"x", "unexpected argument \"x\""},
      {"websites.txt", "unexpected argument \"websites.txt\""},
      {"''", "unexpected argument \"\""},
      {"-", "unexpected argument \"-\""},
      {"-- --help", "unexpected argument \"--help\""},
      {"--hepl", "unrecognized option \"--hepl\""},
      {"--help=3", "unrecognized option \"--help=3\""},
      {"--Version", "unrecognized option \"--Version\""},
      {"-hx", "unrecognized option \"-x\""},
      {"-h x", "unexpected argument \"x\""},
  };
  for (const std::string& program : {patterntally, bitladder}) {
    const std::string name = std::filesystem::path(program).filename().string();
    for (const auto& [args, complaint] : cases) {
      SCOPED_TRACE(name + " " + args);
      Scratch s;
      make_scratch(s, "cli-args");
      put_files(s, seeded_files);
      const std::string before = list_files(s);
      const RunResult r = run_in(s, program, "", "", " " + args);
      EXPECT_EQ(2, r.status);
      EXPECT_EQ("", r.out);
      EXPECT_EQ(name + ": " + complaint + "\nTry '" + name + " --help'.\n", r.err);
      EXPECT_EQ(before, list_files(s));
      for (const auto& [file, bytes] : seeded_files) EXPECT_EQ(bytes, get_file(s, file)) << file;
    }
  }
}

// -C DIR runs in DIR exactly as a run started there; a DIR that cannot be
// entered is a usage error that touches nothing.
TEST(Cli, WorksInTheDirectoryOfDashC) {
  for (const std::string& program : {patterntally, bitladder}) {
    Scratch here;
    make_scratch(here, "cli-here");
    put_files(here, seeded_files);
    const RunResult expected = run_in(here, program);
    for (const std::string args : {"-C sub", "-Csub", "--directory=sub", "-C . -C sub"}) {
      SCOPED_TRACE(program + " " + args);
      Scratch parent;
      make_scratch(parent, "cli-parent");
      std::filesystem::create_directory(parent.dir / "sub");
      for (const auto& [name, bytes] : seeded_files) put_file(parent, "sub/" + name, bytes);
      const RunResult r = run_in(parent, program, "", "", " " + args);
      EXPECT_EQ(expected.status, r.status);
      EXPECT_EQ(expected.out, r.out);
      EXPECT_EQ(expected.err, r.err);
      EXPECT_EQ("sub\n", list_files(parent));
      for (const auto& [name, bytes] : seeded_files)
        EXPECT_EQ(get_file(here, name), get_file(parent, "sub/" + name));
    }
    Scratch s;
    make_scratch(s, "cli-nodir");
    put_files(s, seeded_files);
    const RunResult r = run_in(s, program, "", "", " -C missing");
    const std::string name = std::filesystem::path(program).filename().string();
    EXPECT_EQ(2, r.status);
    EXPECT_EQ(name + ": cannot change to directory \"missing\": No such file or directory\n", r.err);
    for (const auto& [file, bytes] : seeded_files) EXPECT_EQ(bytes, get_file(s, file)) << file;
  }
}

// Runs that end short or cannot write: a signal, a full disk, an output that
// is a link to an input, closed standard descriptors, too little memory. An
// output is only ever replaced by a complete new file, so earlier results
// survive, no temporary file stays behind and no input is written over.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

#if defined(__SANITIZE_ADDRESS__)  // gcc; clang below
#define UNDER_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define UNDER_ADDRESS_SANITIZER 1
#endif
#endif

namespace {

namespace fs = std::filesystem;

// Inputs that give messages, and earlier results that a run replaces.
const Files tally_inputs = {{valid_chars_file, "<a>\n<b>\n<c>\n"},
                            {recurrent_file, "<ab>\n<bc>\n"},
                            {start_file, "<cc>\n"},
                            {corpus_file, "ab#c\ncc abc\n"}};
const Files tally_earlier = {{count_report_file, "9\t<earlier>\n"}, {ranked_file, "<earlier>\n"}};
const Files ladder_inputs = {{ranked_file, "<a>\n<b>\n<a>\n<c>\n"}};
const Files ladder_earlier = {{code_map_file, "1 <earlier>\n"}};

std::string name_of(const std::string& program) { return fs::path(program).filename().string(); }

// `a` with the files of `b` added or replaced.
Files merged(Files a, const Files& b) {
  for (const auto& [name, bytes] : b) a[name] = bytes;
  return a;
}

std::string listing_of(const Files& files) {
  std::string all;
  for (const auto& [name, bytes] : files) all += name + "\n";
  return all;
}

// Checks the bytes of each file, showing only the start of a difference.
void expect_files(const Scratch& s, const Files& files, const std::string& except = "") {
  for (const auto& [name, bytes] : files) {
    const std::string found = get_file(s, name);
    if (name != except && found != bytes) {
      ADD_FAILURE() << name << ": expected " << bytes.size() << " bytes " << bytes.substr(0, 40)
                    << "..., found " << found.size() << " bytes " << found.substr(0, 40) << "...";
    }
  }
}

// What a plain run of `program` on `inputs` prints and writes.
struct Reference {
  RunResult run;
  Files outputs;
};
Reference reference_run(const std::string& program, const Files& inputs) {
  Scratch s;
  make_scratch(s, "reference");
  put_files(s, inputs);
  Reference ref{run_in(s, program), {}};
  for (const std::string name : {count_report_file, ranked_file, code_map_file}) {
    if (!inputs.contains(name) && fs::exists(s.dir / name)) ref.outputs[name] = get_file(s, name);
  }
  return ref;
}

// Starts `program` in `dir` with the default action for every signal, its
// output and error to `log`.
pid_t start_in(const fs::path& dir, const std::string& program, const std::string& log) {
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  const int null = ::open("/dev/null", O_RDONLY), out = ::open(log.c_str(), O_WRONLY | O_CREAT, 0600);
  if (::chdir(dir.c_str()) != 0 || null < 0 || out < 0) ::_exit(126);
  ::dup2(null, 0), ::dup2(out, 1), ::dup2(out, 2);
  for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) std::signal(sig, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  ::execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
  ::_exit(127);
}

// Opens the FIFO `path` for writing once a reader has it open and writes all
// of `bytes`; false when no reader came or it stopped reading. The deadline
// only keeps a broken program from hanging the test.
bool feed_fifo(const fs::path& path, const std::string& bytes, int& fd) {
  for (int tries = 0; fd < 0 && tries < 6000; ++tries) {
    fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd < 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (fd < 0 || ::fcntl(fd, F_SETFL, 0) != 0) return false;
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

// A signal mid-run leaves the earlier results whole. The program removes its
// temporaries on SIGTERM, SIGINT and SIGHUP and dies of the signal; what a
// SIGKILL leaves, the next run removes. The input is a FIFO that the test
// keeps open, so the program waits mid-run with its outputs open.
TEST(SurviveFailure, Signals) {
  struct Case {
    std::string program, fifo;
    Files inputs, earlier;
    std::string feed;
  };
  std::string corpus, ranked;  // 2 MiB or so, far more than a FIFO holds
  for (int i = 0; i < 200'000; ++i) {
    corpus += "ab" + std::string(i % 7, 'c') + "\n";
    ranked += "<" + std::to_string(i) + ">\n";
  }
  const std::vector<Case> cases = {{patterntally, corpus_file, tally_inputs, tally_earlier, corpus},
                                   {bitladder, ranked_file, {}, ladder_earlier, ranked}};
  struct IgnorePipe {  // a write to a dead reader fails instead of killing the test
    void (*old)(int) = std::signal(SIGPIPE, SIG_IGN);
    ~IgnorePipe() { std::signal(SIGPIPE, old); }
  } ignore_pipe;
  for (const Case& c : cases) {
    const Files inputs = merged(c.inputs, {{c.fifo, c.feed}});
    const Reference ref = reference_run(c.program, inputs);
    for (const int sig : {SIGKILL, SIGTERM, SIGINT, SIGHUP}) {
      SCOPED_TRACE(name_of(c.program) + " " + strsignal(sig));
      Scratch s;
      make_scratch(s, "signal");
      Files seeded = merged(c.inputs, c.earlier);
      seeded.erase(c.fifo);
      put_files(s, seeded);
      ASSERT_EQ(0, ::mkfifo((s.dir / c.fifo).c_str(), 0644));
      const std::string before = list_files(s), log = s.dir.string() + ".log";
      const pid_t pid = start_in(s.dir, c.program, log);
      ASSERT_GT(pid, 0);
      int fifo = -1, raw = 0;
      const bool fed = feed_fifo(s.dir / c.fifo, c.feed, fifo);
      ::kill(pid, sig);
      ::waitpid(pid, &raw, 0);
      if (fifo >= 0) ::close(fifo);
      fs::remove(log);
      ASSERT_TRUE(fed) << "the program did not read its input";
      EXPECT_TRUE(WIFSIGNALED(raw) && WTERMSIG(raw) == sig) << "wait status " << raw;
      expect_files(s, c.earlier);
      std::string shown, entry;  // after SIGKILL, hidden temporaries may stay
      for (std::istringstream names(list_files(s)); std::getline(names, entry);) {
        if (sig != SIGKILL || !entry.starts_with(".")) shown += entry + "\n";
      }
      EXPECT_EQ(before, shown);

      // A run to the end afterwards leaves exactly its files.
      fs::remove(s.dir / c.fifo);
      put_files(s, {{c.fifo, c.feed}});
      const RunResult r = run_in(s, c.program);
      EXPECT_EQ(ref.run.status, r.status);
      EXPECT_EQ(ref.run.err, r.err);
      expect_files(s, ref.outputs);
      EXPECT_EQ(listing_of(merged(inputs, ref.outputs)), list_files(s));
    }
  }
}

// A small file system, filled so that the outputs do not fit: each failure
// is reported, the earlier results stay, no temporary is left. Needs the
// right to mount a tmpfs (root, outside a container that forbids it).
TEST(SurviveFailure, FullDisk) {
  std::string digits, patterns;
  for (char d = '0'; d <= '9'; ++d) digits += "<" + std::string(1, d) + ">\n";
  for (int i = 0; i < 5000; ++i) patterns += "<" + std::to_string(100'000 + i) + ">\n";
  struct Case {
    std::string program;
    Files inputs, earlier;
    std::vector<std::string> too_big;
  };
  const std::vector<Case> cases = {
      {patterntally,
       {{valid_chars_file, digits}, {recurrent_file, patterns}, {start_file, ""}, {corpus_file, "100001\n"}},
       tally_earlier,
       {count_report_file, ranked_file}},
      {bitladder, {{ranked_file, patterns}}, ladder_earlier, {code_map_file}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(name_of(c.program));
    const Files inputs = merged(c.inputs, c.earlier);
    const Reference ref = reference_run(c.program, c.inputs);
    Scratch s;
    make_scratch(s, "full-disk");
    if (::mount("tmpfs", s.dir.c_str(), "tmpfs", 0, "size=1m") != 0) {
      GTEST_SKIP() << "cannot mount a tmpfs: " << std::strerror(errno);
    }
    struct Unmount {
      const fs::path& dir;
      ~Unmount() { ::umount2(dir.c_str(), MNT_DETACH); }
    } unmount{s.dir};
    put_files(s, inputs);
    struct statvfs info {};
    ASSERT_EQ(0, ::statvfs(s.dir.c_str(), &info));
    const std::size_t free_bytes = info.f_bavail * info.f_frsize, room = 16 << 10;
    ASSERT_GT(free_bytes, room);
    put_file(s, "filler", std::string(free_bytes - room, 'f'));
    const RunResult r = run_in(s, c.program);
    std::string err;
    for (const std::string& name : c.too_big) {
      err += name_of(c.program) + ": cannot write \"" + name + "\": " + std::strerror(ENOSPC) + "\n";
    }
    EXPECT_EQ(1, r.status);
    EXPECT_EQ(err, r.err);
    EXPECT_EQ(ref.run.out, r.out);
    expect_files(s, inputs);
    EXPECT_EQ(listing_of(merged(inputs, {{"filler", ""}})), list_files(s));
  }
}

// An output that is the same file as an input, by a symbolic or a hard link,
// is not written: the input stays as it is, and the rest of the run goes on;
// but the other report of patterntally is not written either.
TEST(SurviveFailure, OutputLinkedToInput) {
  struct Case {
    std::string program, output, input;
    Files inputs;
  };
  std::vector<Case> cases = {{bitladder, code_map_file, ranked_file, ladder_inputs}};
  for (const std::string output : {count_report_file, ranked_file}) {
    for (const std::string input : {corpus_file, valid_chars_file, recurrent_file, start_file}) {
      cases.push_back({patterntally, output, input, tally_inputs});
    }
  }
  // The ranked pattern file as a link to the count report, written before it.
  cases.push_back({patterntally, ranked_file, count_report_file, tally_inputs});
  for (const Case& c : cases) {
    const Reference ref = reference_run(c.program, c.inputs);
    for (const bool symbolic : {true, false}) {
      if (!symbolic && !c.inputs.contains(c.input)) continue;  // no report before the run
      SCOPED_TRACE(name_of(c.program) + ": " + c.output + (symbolic ? " -> " : " == ") + c.input);
      Scratch s;
      make_scratch(s, "linked");
      put_files(s, c.inputs);
      if (symbolic) {
        fs::create_symlink(c.input, s.dir / c.output);
      } else {
        fs::create_hard_link(s.dir / c.input, s.dir / c.output);
      }
      const RunResult r = run_in(s, c.program);
      EXPECT_EQ(1, r.status);
      EXPECT_EQ(name_of(c.program) + ": cannot write \"" + c.output + "\": it is the same file as \"" +
                    c.input + "\"\n",
                r.err);
      EXPECT_EQ(ref.run.out, r.out);
      const Files written = c.program == patterntally ? Files{{c.output, ""}} : ref.outputs;
      expect_files(s, merged(written, c.inputs), c.output);
      EXPECT_EQ(symbolic, fs::is_symlink(s.dir / c.output));
      if (symbolic) {
        EXPECT_EQ(c.input, fs::read_symlink(s.dir / c.output).string());
      } else {
        EXPECT_TRUE(fs::equivalent(s.dir / c.output, s.dir / c.input));
      }
      EXPECT_EQ(listing_of(merged(c.inputs, written)), list_files(s));
    }
  }
}

// A replaced output keeps its permission bits and a new one has 0666 less
// the umask. An output that is a symbolic link stays one, and the file it
// names, in another directory, is replaced.
TEST(SurviveFailure, ReplacedFileKeepsModeAndLink) {
  struct Mode {
    std::string what, umask;
    int earlier;  // the earlier file's mode, -1 for none
    fs::perms expected;
    bool linked;
  };
  const std::vector<Mode> modes = {
      {"earlier 0640", "022", 0640, fs::perms(0640), false},
      {"earlier 0604, umask 077", "077", 0604, fs::perms(0604), false},
      {"new, umask 027", "027", -1, fs::perms(0640), false},
      {"link to a 0640 file elsewhere", "022", 0640, fs::perms(0640), true},
  };
  const std::vector<std::pair<std::string, std::string>> outputs = {
      {patterntally, count_report_file}, {patterntally, ranked_file}, {bitladder, code_map_file}};
  for (const auto& [program, output] : outputs) {
    const Files inputs = program == bitladder ? ladder_inputs : tally_inputs;
    const Reference ref = reference_run(program, inputs);
    for (const Mode& m : modes) {
      SCOPED_TRACE(output + ": " + m.what);
      Scratch s;
      make_scratch(s, "mode");
      put_files(s, inputs);
      const fs::path target = s.dir / (m.linked ? "kept/" + output : output);
      if (m.linked) {
        fs::create_directory(s.dir / "kept");
        fs::create_symlink("kept/" + output, s.dir / output);
      }
      if (m.earlier >= 0) {
        std::ofstream(target) << "earlier\n";
        fs::permissions(target, fs::perms(m.earlier));
      }
      const RunResult r = run_in(s, program, "", "umask " + m.umask + " && exec ");
      EXPECT_EQ(ref.run.status, r.status);
      expect_files(s, ref.outputs);
      EXPECT_EQ(m.expected, fs::status(target).permissions() & fs::perms::all);
      EXPECT_EQ(m.linked, fs::is_symlink(s.dir / output));
      if (m.linked) {
        EXPECT_EQ("kept/" + output, fs::read_symlink(s.dir / output).string());
        EXPECT_EQ(1, std::distance(fs::directory_iterator(s.dir / "kept"), fs::directory_iterator()));
      }
      EXPECT_EQ(listing_of(merged(merged(inputs, ref.outputs), m.linked ? Files{{"kept", ""}} : Files{})),
                list_files(s));
    }
  }
}

// Closed standard input and output: no output file lands on descriptor 0 or
// 1, and what was meant for standard output is a reported failure. Enough
// messages that they are written while the outputs are open.
TEST(SurviveFailure, ClosedStandardDescriptors) {
  std::string bad_lines, repeats = "<a>\n";
  for (int i = 0; i < 5000; ++i) {
    bad_lines += "ab#c\n";
    repeats += "<a>\n";
  }
  struct Case {
    std::string program;
    Files inputs;
    bool prints;  // anything goes to standard output
  };
  const std::vector<Case> cases = {
      {patterntally, merged(tally_inputs, {{corpus_file, bad_lines}}), true},
      {patterntally, merged(tally_inputs, {{corpus_file, "ab\n"}}), false},
      {bitladder, {{ranked_file, repeats}}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(name_of(c.program) + (c.prints ? ", printing" : ", silent"));
    const Reference ref = reference_run(c.program, c.inputs);
    ASSERT_EQ(c.prints, !ref.run.out.empty());
    Scratch s;
    make_scratch(s, "closed");
    put_files(s, c.inputs);
    const RunResult r = run_in(s, c.program, "<&- >&-");
    EXPECT_EQ(c.prints ? 1 : 0, r.status);
    EXPECT_EQ(c.prints ? name_of(c.program) + ": cannot write standard output: Bad file descriptor\n" : "",
              r.err);
    expect_files(s, merged(c.inputs, ref.outputs));
    EXPECT_EQ(listing_of(merged(c.inputs, ref.outputs)), list_files(s));
  }
}

// Too little memory for a line: one line on standard error and exit status
// 1 rather than an abort, and the earlier results stay. An address space
// limit does not work with the address sanitizer, which reserves terabytes.
TEST(SurviveFailure, OutOfMemory) {
#ifdef UNDER_ADDRESS_SANITIZER
  GTEST_SKIP() << "the address sanitizer needs more address space than the limit";
#endif
  const std::vector<std::pair<std::string, Files>> cases = {
      {patterntally, merged(tally_inputs, tally_earlier)}, {bitladder, ladder_earlier}};
  for (const auto& [program, files] : cases) {
    SCOPED_TRACE(name_of(program));
    const std::string long_file = program == bitladder ? ranked_file : corpus_file;
    Scratch s;
    make_scratch(s, "memory");
    put_files(s, merged(files, {{long_file, ""}}));
    fs::resize_file(s.dir / long_file, std::uintmax_t{256} << 20);  // zero bytes, sparse
    const RunResult r = run_in(s, program, "", "ulimit -c 0 && ulimit -v 65536 && exec ");
    EXPECT_EQ(1, r.status);
    EXPECT_EQ(name_of(program) + ": out of memory\n", r.err);
    expect_files(s, files, long_file);
    EXPECT_EQ(listing_of(merged(files, {{long_file, ""}})), list_files(s));
  }
  // Limits up to where the programs get past their memory: below the
  // loader's need it gives up (127), from there on the run ends with the line
  // above, never an abort.
  Scratch s;
  make_scratch(s, "memory");
  for (const std::string& program : {patterntally, bitladder, varicode}) {
    for (int kib = 3072; kib <= 16384; kib += 64) {
      const RunResult r =
          run_in(s, program, "", "ulimit -c 0 && ulimit -v " + std::to_string(kib) + " && exec ",
                 program == varicode ? " report" : "");
      EXPECT_TRUE(r.status == 0 || r.status == 1 || r.status == 127)
          << name_of(program) << " under " << kib << " KiB: status " << r.status << ", " << r.err;
      if (r.status == 0 || (r.status == 1 && r.err.find("out of memory") == std::string::npos)) break;
    }
  }
}

// Odd names around the outputs: a loop of links is refused as opening it
// would be; so is a link in a sticky world-writable directory that another
// user may have planted (as root, a link given to uid 65534); standard output
// into an input, an output or standard input is refused; a file that only
// looks like a temporary is left alone.
TEST(SurviveFailure, OddOutputSetUps) {
  struct Case {
    std::string what, program, setup, redirect, err, kept;
    int status;
    std::string arguments = "";
  };
  const std::string tally = "patterntally: cannot write ";
  const std::string secret =
      "mkdir -m 700 private && echo secret >private/secret && chmod 600 private/secret";
  const std::string planted =
      "\": it is a symbolic link in a sticky world-writable directory, owned by another user\n";
  const std::string o_into_input =
      "varicode: cannot write \"" + std::string(corpus_file) + "\": it is the same file as standard input\n";
  const bool root = ::geteuid() == 0;
  const std::vector<Case> cases = {
      {"loop of links", patterntally,
       "ln -s b " + std::string(count_report_file) + " && ln -s " + std::string(count_report_file) + " b", "",
       tally + "\"" + std::string(count_report_file) + "\": " + std::strerror(ELOOP) + "\n", corpus_file, 1},
      {"standard output into the corpus", patterntally, "true", ">> " + std::string(corpus_file),
       tally + "standard output: it is the same file as \"" + std::string(corpus_file) + "\"\n", corpus_file,
       1},
      {"standard output into the code map", bitladder, "true", "> " + std::string(code_map_file),
       "bitladder: cannot write \"" + std::string(code_map_file) +
           "\": it is the same file as standard output\n",
       ranked_file, 1},
      {"a file named like a temporary", patterntally,
       "echo mine > ." + std::string(count_report_file) + ".tmp-backup", "", "",
       "." + std::string(count_report_file) + ".tmp-backup", 0},
      {"a planted link", patterntally,
       secret + " && ln -s private/secret " + std::string(count_report_file) + " && chown -h 65534 " +
           std::string(count_report_file) + " && chmod 1777 .",
       "", tally + "\"" + std::string(count_report_file) + planted, "private/secret", 1},
      {"a planted link met on the way", bitladder,
       secret +
           " && mkdir -m 1777 pub && ln -s ../private/secret pub/link && chown -h 65534 pub/link && ln -s " +
           "pub/link " + std::string(code_map_file),
       "", "bitladder: cannot write \"" + std::string(code_map_file) + planted, "private/secret", 1},
      {"a link of the sticky directory's owner", bitladder,
       secret + " && mkdir -m 1777 pub && chown 65534 pub && ln -s ../private/secret pub/link && chown -h " +
           "65534 pub/link && ln -s pub/link " + std::string(code_map_file),
       "", "", ranked_file, 0},
      {"standard output into standard input", varicode, "true", "<websites.txt >>websites.txt",
       "varicode: cannot write standard output: it is the same file as standard input\n", corpus_file, 1,
       " encode"},
      {"-o into standard input", varicode, "echo '1 <a>' >map_varicodes.txt", "<websites.txt", o_into_input,
       corpus_file, 1, " encode -o websites.txt"},
      {"-o into standard input, named \"-\"", varicode, "true", "<websites.txt", o_into_input, corpus_file, 1,
       " chars -o websites.txt -"},
      {"-o into standard input of suggest", varicode, "true", "<websites.txt", o_into_input, corpus_file, 1,
       " suggest -o websites.txt 5 -"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (!root && c.setup.find("chown") != std::string::npos) continue;  // links given away need root
    Scratch s;
    make_scratch(s, "odd");
    put_files(s, merged(tally_inputs, ladder_inputs));
    ASSERT_EQ(0, std::system(("cd '" + s.dir.string() + "' && " + c.setup).c_str()));
    const std::string kept = get_file(s, c.kept);
    const RunResult r = run_in(s, c.program, c.redirect, "", c.arguments);
    EXPECT_EQ(c.status, r.status);
    EXPECT_EQ(c.err, r.err);
    EXPECT_EQ(kept, get_file(s, c.kept));
  }
}

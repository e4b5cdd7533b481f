#include "program.h"

#include <getopt.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "messages.h"
#include "output.h"
#include "progress.h"

const std::string_view copyright_lines =
    "Copyright (C) 2026 The patternladder authors.\n"
    "License MIT: <https://opensource.org/license/mit>. This is free software: you are free\n"
    "to change and redistribute it. There is NO WARRANTY, to the extent permitted by law.\n";

namespace {

constexpr std::string_view status_line_paragraph =
    "A run that lasts over half a second shows its progress on standard error when\n"
    "that is a terminal: one line, redrawn in place and cleared at the end.\n"
    "\n";
constexpr std::string_view directory_option =
    "  -C, --directory=DIR  work in DIR instead of the current directory\n";
constexpr std::string_view threads_option = "  -j, --threads=N      ";
constexpr std::string_view progress_options =
    "      --progress       show the progress also when standard error is not a\n"
    "                       terminal, one line a second\n"
    "      --no-progress    never show it\n";
constexpr std::string_view help_and_version_options =
    "  -h, --help           print this text and exit\n"
    "      --version        print the version and exit\n";

// Signals that end a program by default. The faults are left to the
// sanitizers in a sanitized build, which report them.
constexpr int ending_signals[] = {
    SIGHUP,  SIGINT, SIGQUIT, SIGTERM, SIGALRM, SIGUSR1, SIGUSR2, SIGVTALRM, SIGPROF, SIGXCPU,
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_UNDEFINED__)
    SIGSEGV, SIGBUS, SIGFPE,  SIGILL,  SIGABRT,
#endif
};

extern "C" void end_on_signal(int signal_number) {
  remove_temporaries();
  clear_progress_on_signal();
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);  // delivered when the handler returns
}

// The values of the options without a short form: past every byte, so that
// an option that went wrong tells whether it was long.
enum : int {
  version_option = 256,
  progress_option,
  no_progress_option,
  sample_option,
  first_own_option,  // and those after it: ProgramOptions::own, in order
};

// How the option that getopt_long has just turned down (`result`, ':' or
// '?') is quoted, as the user wrote it: a long one whole ("--bogus"), a short
// one alone, also from a bundle ("-x" of "-hx"). getopt_long moves operands
// aside as it goes, so the option is found from what it leaves: a long one
// is the argument it has just gone past, with 0 in optopt when unknown, else
// its value, which is past every byte or, when it was given an argument it
// does not take, a known short option; an unknown short option leaves its
// own byte there. A missing argument was wanted by the last argument.
std::string option_text(int result, char** argv, std::string_view short_options) {
  const std::string_view passed = argv[optind - 1];
  const bool known_short = optopt > 0 && optopt < 256 && optopt != ':' &&
                           short_options.find(static_cast<char>(optopt)) != std::string_view::npos;
  const bool long_option =
      result == ':' ? passed.starts_with("--") : optopt == 0 || optopt >= 256 || known_short;
  if (long_option) return std::string(passed);
  std::string text = "-";
  text += static_cast<char>(optopt);
  return text;
}

// A number of threads from 1 to 1024, or 0 for the default.
bool read_thread_count(std::string_view text, unsigned& threads) {
  if (text.empty() || text.size() > 4 || text.find_first_not_of("0123456789") != std::string_view::npos) {
    return false;
  }
  unsigned n = 0;
  for (const char digit : text) n = n * 10 + static_cast<unsigned>(digit - '0');
  if (n > 1024) return false;
  if (n != 0) threads = n;
  return true;
}

// A number of lines, up to 10^18.
bool read_line_count(std::string_view text, std::uint64_t& lines) {
  if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string_view::npos) {
    return false;
  }
  lines = 0;
  for (const char digit : text) lines = lines * 10 + static_cast<std::uint64_t>(digit - '0');
  return true;
}

int print_and_end(std::string_view text) {
  Output& out = standard_output();
  write_output(out, text);
  close_output(out);
  return exit_status();
}

}  // namespace

std::string usage_text(const UsageText& text) {
  std::string usage(text.about);
  if (text.status_line_paragraph) usage += status_line_paragraph;
  usage += directory_option;
  if (!text.threads.empty()) {
    usage += threads_option;
    usage += text.threads;
  }
  usage += text.own_options;
  usage += progress_options;
  usage += help_and_version_options;
  usage += '\n';
  usage += text.after;
  return usage;
}

int usage_error(std::string_view what) {
  const std::string lines = usage_error_lines(program_name(), what);
  std::fwrite(lines.data(), 1, lines.size(), stderr);
  std::fflush(stderr);
  return 2;
}

void start_program(std::string_view name) {
  protect_standard_descriptors();
  set_program_name(name);
  std::signal(SIGPIPE, SIG_IGN);  // a closed pipe fails the write, which is reported
  std::signal(SIGXFSZ, SIG_IGN);  // so does a file past the size limit
  for (const int signal_number : ending_signals) {
    struct sigaction now {};
    // A signal that the program was started ignoring stays ignored.
    if (::sigaction(signal_number, nullptr, &now) == 0 && now.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = end_on_signal;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal_number, &action, nullptr);
  }
  std::set_new_handler([] { fail_out_of_memory(); });
}

namespace {

// The options getopt_long looks for: those every program takes and those of
// `options`. Without operands, the first operand ends the options.
struct OptionTable {
  std::vector<option> long_options;
  std::string short_options;
};

OptionTable option_table(const ProgramOptions& options) {
  OptionTable table{{
                        {"help", no_argument, nullptr, 'h'},
                        {"version", no_argument, nullptr, version_option},
                        {"directory", required_argument, nullptr, 'C'},
                        {"progress", no_argument, nullptr, progress_option},
                        {"no-progress", no_argument, nullptr, no_progress_option},
                    },
                    options.operands != nullptr ? ":hC:" : "+:hC:"};
  if (options.threads != nullptr) {
    table.long_options.push_back({"threads", required_argument, nullptr, 'j'});
    table.short_options += "j:";
  }
  if (options.sample != nullptr)
    table.long_options.push_back({"sample", required_argument, nullptr, sample_option});
  if (options.output != nullptr) {
    table.long_options.push_back({"output", required_argument, nullptr, 'o'});
    table.short_options += "o:";
  }
  for (std::size_t i = 0; i < options.own.size(); ++i) {
    const ProgramOptions::Own& own = options.own[i];
    table.long_options.push_back({own.name, own.value != nullptr ? required_argument : no_argument, nullptr,
                                  first_own_option + static_cast<int>(i)});
  }
  table.long_options.push_back({nullptr, 0, nullptr, 0});
  return table;
}

// What the options asked for that is done once all are read.
struct OptionsRead {
  bool help = false;
  bool show_version = false;
  std::vector<std::string> directories;
};

// Takes `option`, just returned by getopt_long with its argument in optarg,
// into `read` or `options`. Returns -1, or the exit status of a usage error,
// which is reported.
int take_option(int option, char** argv, const OptionTable& table, const ProgramOptions& options,
                OptionsRead& read) {
  switch (option) {
    case 'h':
      read.help = true;
      return -1;
    case version_option:
      read.show_version = true;
      return -1;
    case 'C':
      read.directories.emplace_back(optarg);
      return -1;
    case progress_option:
      set_progress_mode(ProgressMode::always);
      return -1;
    case no_progress_option:
      set_progress_mode(ProgressMode::never);
      return -1;
    case 'j':
      return read_thread_count(optarg, *options.threads) ? -1 : usage_error(invalid_thread_count(optarg));
    case sample_option:
      return read_line_count(optarg, *options.sample) ? -1 : usage_error(invalid_line_count(optarg));
    case 'o':
      if (*optarg == '\0') return usage_error(empty_output_name);
      *options.output = optarg;
      return -1;
    case ':':
      return usage_error(option_needs_argument(option_text(option, argv, table.short_options)));
    default:
      if (option >= first_own_option && option < first_own_option + static_cast<int>(options.own.size())) {
        const ProgramOptions::Own& own = options.own[static_cast<std::size_t>(option - first_own_option)];
        if (own.value != nullptr) *own.value = optarg;
        if (own.set != nullptr) *own.set = true;
        return -1;
      }
      return usage_error(unrecognized_option(option_text(option, argv, table.short_options)));
  }
}

// Works in each of `directories` in turn; -1, or 2 after the failure line.
int change_directories(const std::vector<std::string>& directories) {
  for (const std::string& dir : directories) {
    if (::chdir(dir.c_str()) != 0) {
      const std::string line =
          failure_line(program_name(), Cannot::change_to_directory, dir, std::strerror(errno));
      std::fwrite(line.data(), 1, line.size(), stderr);
      return 2;
    }
  }
  return -1;
}

}  // namespace

int read_command_line(int argc, char** argv, std::string_view usage, std::string_view version,
                      const ProgramOptions& options) {
  // 1. The options, each taken as it comes; 2. the operands; 3. help or
  // version, which end the program; 4. the directories.
  const OptionTable table = option_table(options);
  OptionsRead read;
  opterr = 0;  // the messages are ours
  optind = 0;  // a scan from the start, also of a second command line
  for (int option; (option = getopt_long(argc, argv, table.short_options.c_str(), table.long_options.data(),
                                         nullptr)) != -1;) {
    const int status = take_option(option, argv, table, options, read);
    if (status >= 0) return status;
  }
  if (options.operands != nullptr) {
    options.operands->assign(argv + optind, argv + argc);
  } else if (optind < argc) {
    return usage_error(unexpected_argument(argv[optind]));
  }
  if (read.help) return print_and_end(usage);
  if (read.show_version) return print_and_end(std::string(version) + std::string(copyright_lines));
  return change_directories(read.directories);
}

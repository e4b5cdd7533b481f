#include "program.h"

#include <csignal>

#include "failure.h"
#include "output.h"

void start_program(std::string_view name) {
#ifdef SIGPIPE
  std::signal(SIGPIPE, SIG_IGN);
#endif
  set_program_name(name);
}

bool answer_help_or_version(int argc, char** argv, std::string_view usage,
                            std::string_view version) {
  const std::string_view option = argc == 2 ? argv[1] : "";
  if (option != "--help" && option != "-h" && option != "--version") return false;
  write_output(standard_output(), option == "--version" ? version : usage);
  close_output(standard_output());
  return true;
}

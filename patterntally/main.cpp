// patterntally: counts the patterns of the websites in "websites.txt".
#include <csignal>

#include "failure.h"
#include "patterntally.h"

int main() {
#ifdef SIGPIPE
  std::signal(SIGPIPE, SIG_IGN);  // a closed pipe is a write failure, reported
#endif
  set_program_name("patterntally");
  return run_patterntally();
}

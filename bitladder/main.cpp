// bitladder: gives each ranked pattern a code word, shortest to the first.
#include <csignal>

#include "bitladder.h"
#include "failure.h"

int main() {
#ifdef SIGPIPE
  std::signal(SIGPIPE, SIG_IGN);  // a closed pipe is a write failure, reported
#endif
  set_program_name("bitladder");
  return run_bitladder();
}

// measure: runs a command and appends one line about it to a file:
//   wall_seconds user_seconds system_seconds peak_rss_kib exit_status
// Usage: measure RESULT_FILE COMMAND [ARGS...]. The command inherits standard
// input, output and error. The times and the peak come from wait4, so they
// belong to that one child (and the children it waited for), not to
// everything this process ever started. An exit by signal N is status 128+N;
// a command that cannot be started is status 127.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

double seconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

double now() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: measure RESULT_FILE COMMAND [ARGS...]\n");
    return 2;
  }
  std::FILE* result = std::fopen(argv[1], "a");
  if (result == nullptr) {
    std::fprintf(stderr, "measure: cannot open \"%s\": %s\n", argv[1], std::strerror(errno));
    return 2;
  }
  const double started = now();
  const pid_t child = fork();
  if (child < 0) {
    std::fprintf(stderr, "measure: fork: %s\n", std::strerror(errno));
    return 2;
  }
  if (child == 0) {
    std::fclose(result);
    execvp(argv[2], argv + 2);
    std::fprintf(stderr, "measure: cannot run \"%s\": %s\n", argv[2], std::strerror(errno));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  while (wait4(child, &status, 0, &usage) < 0) {
    if (errno != EINTR) {
      std::fprintf(stderr, "measure: wait4: %s\n", std::strerror(errno));
      return 2;
    }
  }
  const double wall = now() - started;
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::fprintf(result, "%.6f %.6f %.6f %ld %d\n", wall, seconds(usage.ru_utime), seconds(usage.ru_stime),
               usage.ru_maxrss, code);
  std::fclose(result);
  return code;
}

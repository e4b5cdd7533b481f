#include "thread_start.h"

#include <sched.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <system_error>
#include <utility>

#include "messages.h"
#include "output.h"

namespace {

template <typename Thread>
bool start(Thread& thread, std::function<void()> body) {
  try {
    thread = Thread(std::move(body));
  } catch (const std::system_error& e) {
    errno = e.code().value();
    return false;
  }
  return true;
}

}  // namespace

unsigned default_thread_count() {
  cpu_set_t cpus;
  CPU_ZERO(&cpus);
  if (::sched_getaffinity(0, sizeof cpus, &cpus) == 0 && CPU_COUNT(&cpus) > 0) {
    return static_cast<unsigned>(CPU_COUNT(&cpus));
  }
  return std::max(1u, std::thread::hardware_concurrency());
}

bool start_thread(std::jthread& thread, std::function<void()> body) { return start(thread, std::move(body)); }

bool start_thread(std::thread& thread, std::function<void()> body) { return start(thread, std::move(body)); }

void note_fewer_threads(std::string_view doing, std::size_t threads, int error) {
  write_error_line(note_line(program_name(), fewer_threads_note(doing, threads, error)));
}

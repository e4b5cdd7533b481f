#include "progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <thread>

#include "thread_start.h"

std::atomic<std::uint64_t> progress_done{0};
std::atomic<std::uint64_t> bytes_read{0};

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto first_draw = std::chrono::milliseconds(500);
constexpr auto terminal_period = std::chrono::milliseconds(250);
constexpr auto line_period = std::chrono::seconds(1);

constexpr char clear_line[] = "\r\033[K";

ProgressMode mode = ProgressMode::terminal;

struct Drawing {
  std::recursive_mutex mutex;  // held while drawing, and while paused
  std::condition_variable_any wake;
  std::thread thread;
  std::function<std::string(double)> status;
  Clock::time_point start;
  bool on_terminal = false;  // redrawn in place; else one line per update
  bool stopping = false;
};

// Made on first use, in the run: its condition variable allocates, which
// before main, where no allocation failure is reported, would end the
// program without a word under a tight memory limit.
Drawing& drawing() {
  static Drawing the_drawing;
  return the_drawing;
}
// Read by the signal handler: a line stands on the terminal.
volatile std::sig_atomic_t line_drawn = 0;
std::atomic<bool> active{false};
std::atomic<bool> terminal_line_open{false};

void write_error(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(2, bytes.data(), bytes.size());
    if (written <= 0) return;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
}

// The terminal's width, so that the line never wraps (a wrapped line would
// not be cleared by a carriage return).
std::size_t columns() {
  winsize size{};
  if (::ioctl(2, TIOCGWINSZ, &size) == 0 && size.ws_col > 1) return size.ws_col - 1u;
  return 79;
}

void draw() {
  if (drawing().on_terminal && terminal_line_open.load()) return;
  const double seconds = std::chrono::duration<double>(Clock::now() - drawing().start).count();
  std::string line = drawing().status(seconds);
  // What the program holds in the buffer of standard error goes first: when
  // the buffer filled in the middle of a message, the rest of the message is
  // there, and the status line would land inside it. Messages are written
  // whole, each while the drawing waits (see pause_progress).
  std::fflush(stderr);
  if (drawing().on_terminal) {
    if (line.size() > columns()) line.resize(columns());
    write_error("\r" + line + "\033[K");
    line_drawn = 1;
  } else {
    write_error(line + "\n");
  }
}

void draw_until_stopped() {
  std::unique_lock lock(drawing().mutex);
  if (drawing().wake.wait_until(lock, drawing().start + first_draw, [] { return drawing().stopping; }))
    return;
  const auto period = drawing().on_terminal ? terminal_period : line_period;
  do {
    draw();
  } while (!drawing().wake.wait_for(lock, period, [] { return drawing().stopping; }));
}

void clear_drawn_line() {
  if (line_drawn == 0) return;
  write_error(clear_line);
  line_drawn = 0;
}

}  // namespace

void set_progress_mode(ProgressMode m) { mode = m; }

void start_progress(std::function<std::string(double)> status) {
  const bool terminal = ::isatty(2) == 1;
  if (mode == ProgressMode::never || (mode == ProgressMode::terminal && !terminal)) return;
  if (active.exchange(true)) return;
  drawing().status = std::move(status);
  drawing().start = Clock::now();
  drawing().on_terminal = terminal;
  drawing().stopping = false;
  // Without a thread of its own there is no status line: the run goes on
  // without it.
  if (!start_thread(drawing().thread, draw_until_stopped)) active.store(false);
}

void stop_progress() {
  if (!active.load()) return;
  {
    std::lock_guard lock(drawing().mutex);
    drawing().stopping = true;
  }
  drawing().wake.notify_all();
  drawing().thread.join();
  clear_drawn_line();
  active.store(false);
}

void pause_progress() {
  if (!active.load()) return;
  drawing().mutex.lock();
  clear_drawn_line();
}

void resume_progress() {
  if (!active.load()) return;
  drawing().mutex.unlock();
}

void set_terminal_line_open(bool open) { terminal_line_open.store(open); }

void clear_progress_on_signal() {
  if (line_drawn == 0) return;
  const ssize_t written = ::write(2, clear_line, sizeof clear_line - 1);
  static_cast<void>(written);  // nothing more can be done in a signal handler
}

namespace {

// `value` in the largest of `units` (each a thousand times the one before)
// that keeps it at 1 or more: whole in the first unit, else with `decimals`.
template <std::size_t N>
std::string scaled(double value, const char* const (&units)[N], int decimals) {
  std::size_t unit = 0;
  while (value >= 1000 && unit + 1 < N) {
    value /= 1000;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.*f%s", unit == 0 ? 0 : decimals, value, units[unit]);
  return text;
}

}  // namespace

std::string format_bytes(double bytes) {
  static const char* const units[] = {" B", " kB", " MB", " GB", " TB", " PB"};
  return scaled(bytes, units, 2);
}

std::string format_count(double count) {
  static const char* const units[] = {"", " k", " M", " G", " T"};
  return scaled(count, units, 1);
}

std::string format_duration(double seconds) {
  // Bounded: a rate near zero tells of a time far past what a count can hold.
  const auto s = static_cast<std::uint64_t>(std::llround(std::min(seconds, 1e12)));
  char text[32];
  if (s >= 3600) {
    std::snprintf(text, sizeof text, "%llu:%02llu:%02llu", static_cast<unsigned long long>(s / 3600),
                  static_cast<unsigned long long>(s / 60 % 60), static_cast<unsigned long long>(s % 60));
  } else {
    std::snprintf(text, sizeof text, "%llu:%02llu", static_cast<unsigned long long>(s / 60),
                  static_cast<unsigned long long>(s % 60));
  }
  return text;
}

std::string reading_status(const std::string& name, std::uint64_t done, std::uint64_t total, double seconds) {
  const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
  std::string line = name + ": " + format_bytes(static_cast<double>(done));
  if (total != 0 && done <= total) {
    line +=
        " of " + format_bytes(static_cast<double>(total)) + " (" + std::to_string(done * 100 / total) + "%)";
  }
  line += ", " + format_bytes(rate) + "/s";
  if (total != 0 && done <= total && rate > 0) {
    line += ", " + format_duration(static_cast<double>(total - done) / rate) + " left";
  }
  return line;
}

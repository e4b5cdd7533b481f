#include "output.h"

#include <cerrno>

#include "failure.h"

namespace {

void fail(Output& out, int error) {
  out.failed = true;
  out.buffer.clear();
  report_write_failure(out.name, error);
}

}  // namespace

Output create_output(const std::string& name) {
  Output out;
  out.name = name;
  errno = 0;
  out.file = std::fopen(name.c_str(), "wb");
  if (out.file == nullptr) {
    fail(out, errno);
  } else {
    std::setvbuf(out.file, nullptr, _IONBF, 0);  // the buffer is ours
  }
  return out;
}

Output memory_output() { return Output{}; }

Output& standard_output() {
  static Output out = [] {
    Output o;
    o.file = stdout;
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    return o;
  }();
  return out;
}

void flush_output(Output& out) {
  if (out.file == nullptr || out.failed) {
    if (out.failed) out.buffer.clear();
    return;
  }
  if (out.buffer.empty()) return;
  errno = 0;
  std::size_t written = std::fwrite(out.buffer.data(), 1, out.buffer.size(), out.file);
  if (written != out.buffer.size()) {
    fail(out, errno);
    return;
  }
  out.buffer.clear();
}

void close_output(Output& out) {
  flush_output(out);
  if (out.file == nullptr) return;
  if (out.file == stdout) {
    errno = 0;
    if (std::fflush(stdout) != 0 && !out.failed) fail(out, errno);
    return;
  }
  errno = 0;
  if (std::fclose(out.file) != 0 && !out.failed) fail(out, errno);
  out.file = nullptr;
}

#include "escape.h"

#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>

namespace {

std::atomic<bool> control_bytes_kept{false};

bool is_control_byte(unsigned char c) { return (c < 0x20 && c != '\t' && c != '\n') || c == 0x7F; }

}  // namespace

int write_fully(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
}

int write_escaped(int fd, std::string_view bytes) {
  constexpr char hex[] = "0123456789abcdef";
  std::array<char, 4096> shown{};
  while (!bytes.empty()) {
    std::size_t size = 0;
    std::size_t taken = 0;
    for (; taken < bytes.size() && size + 4 <= shown.size(); ++taken) {
      const auto c = static_cast<unsigned char>(bytes[taken]);
      if (!is_control_byte(c)) {
        shown[size++] = static_cast<char>(c);
        continue;
      }
      shown[size++] = '\\';
      shown[size++] = 'x';
      shown[size++] = hex[c >> 4];
      shown[size++] = hex[c & 15];
    }
    bytes.remove_prefix(taken);
    const int error = write_fully(fd, std::string_view(shown.data(), size));
    if (error != 0) return error;
  }
  return 0;
}

bool escapes_control_bytes(int fd) {
  static const bool terminal[2] = {::isatty(1) == 1, ::isatty(2) == 1};
  return (fd == 1 || fd == 2) && terminal[fd - 1] && !control_bytes_kept.load();
}

void keep_control_bytes() { control_bytes_kept.store(true); }

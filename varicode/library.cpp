// libvaricode: the C interface to the codec that the varicode program uses.
// A map is read whole from its files with plain system calls, parsed as the
// program parses it, and then only read: coding a website keeps its state on
// the caller's stack, so one map serves any number of threads. Nothing here
// may end the process or print: every exception stops at the interface and
// becomes a status and a message.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "codec.h"
#include "file_names.h"
#include "messages.h"
#include "pattern_file.h"
#include "varicode.h"

struct varicode_map {
  Coder coder;
  Decoder decoder;
};

namespace {

constexpr std::string_view library = "varicode";

// Puts "varicode: WHAT" into `error`, cut to fit; returns `status`.
int fail(varicode_error* error, std::string_view what, int status = VARICODE_FAILED) {
  if (error != nullptr) {
    std::string quoted = problem_line(library, what);
    if (!quoted.empty() && quoted.back() == '\n') quoted.pop_back();
    // A quoted website or code may hold any byte: the control bytes, the
    // line feed and NUL among them, are shown as "\xHH", as a terminal is
    // shown them, so that the message is one printable C string.
    std::size_t size = 0;
    for (const char c : quoted) {
      const auto byte = static_cast<unsigned char>(c);
      const bool shown = (byte >= 0x20 || c == '\t') && byte != 0x7f;
      if (size + (shown ? 1 : 4) >= sizeof error->message) break;
      if (shown) {
        error->message[size++] = c;
      } else {
        static constexpr char hex[] = "0123456789abcdef";
        for (const char e : {'\\', 'x', hex[byte >> 4], hex[byte & 0xf]}) error->message[size++] = e;
      }
    }
    error->message[size] = '\0';
  }
  return status;
}

// A file's bytes, read whole into memory that is not cleared first.
struct FileBytes {
  std::unique_ptr<char[]> room;
  std::size_t capacity = 0;
  std::size_t size = 0;
  std::string_view view() const { return {room.get(), size}; }
};

// Makes room for `capacity` bytes, keeping those read.
void grow(FileBytes& bytes, std::size_t capacity) {
  auto room = std::make_unique_for_overwrite<char[]>(capacity);
  if (bytes.size != 0) std::memcpy(room.get(), bytes.room.get(), bytes.size);
  bytes.room = std::move(room);
  bytes.capacity = capacity;
}

// The bytes of the file `name` into `bytes`; 0, or the errno value of the
// failure. A directory fails with EISDIR.
int read_file(const std::string& name, FileBytes& bytes) {
  const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  struct stat status {};
  int error = 0;
  if (::fstat(fd, &status) != 0) {
    error = errno;
  } else if (S_ISDIR(status.st_mode)) {
    error = EISDIR;
  } else {
    // Room for the whole file and a block more; it grows when the file does
    // (or is no regular file).
    constexpr std::size_t block = 1 << 16;
    grow(bytes, (S_ISREG(status.st_mode) ? static_cast<std::size_t>(status.st_size) : 0) + block);
    for (;;) {
      if (bytes.capacity - bytes.size < block) grow(bytes, 2 * bytes.capacity);
      const ssize_t got = ::read(fd, bytes.room.get() + bytes.size, bytes.capacity - bytes.size);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) error = errno;
      if (got <= 0) break;
      bytes.size += static_cast<std::size_t>(got);
    }
  }
  ::close(fd);
  return error;
}

// Reads `file` of `directory`; a missing file reads as empty when it may be
// missing. Returns "" or the failure line's text.
std::string read_map_file(std::string_view directory, std::string_view file, bool may_be_missing,
                          FileBytes& bytes) {
  std::string name(directory);
  if (!name.empty() && name.back() != '/') name += '/';
  name += file;
  const int error = read_file(name, bytes);
  if (error == 0 || (error == ENOENT && may_be_missing)) return "";
  std::string line = failure_line(library, Cannot::read, name, error_reason(error));
  // failure_line names the program itself; the caller's fail() does it again.
  line.erase(0, library.size() + 2);
  if (!line.empty() && line.back() == '\n') line.pop_back();
  return line;
}

// The output of a call: copied when it fits.
template <typename Byte>
int give(std::string_view bytes, Byte* out, std::size_t capacity, std::size_t* size, varicode_error* error) {
  if (size != nullptr) *size = bytes.size();
  if (out == nullptr && capacity != 0) {
    return fail(error, "a capacity of " + std::to_string(capacity) + " bytes was given without a buffer");
  }
  if (bytes.size() > capacity) {
    return fail(error,
                "the output takes " + std::to_string(bytes.size()) + " bytes, more than the " +
                    std::to_string(capacity) + " given",
                VARICODE_NO_ROOM);
  }
  std::copy(bytes.begin(), bytes.end(), out);
  return VARICODE_OK;
}

// The text code of a website, or what stops it.
std::string encode_website(const varicode_map& map, std::string_view website, std::string& bits) {
  if (website.find('\n') != std::string_view::npos) return std::string(website_holds_line_feed);
  std::vector<Unwritten> uncoded;
  const bool coded = encode_line(map.coder, website, bits, uncoded);
  if (coded && uncoded.empty()) return "";
  const Unwritten& first = uncoded.front();
  return first.token ? no_code_problem(first.text) : invalid_character_problem(first.text);
}

// Runs `call`, turning what it throws into a failure.
template <typename Call>
int guarded(varicode_error* error, Call&& call) {
  try {
    return call();
  } catch (const std::bad_alloc&) {
    return fail(error, out_of_memory);
  } catch (const std::exception& exception) {
    return fail(error, exception.what());
  }
}

}  // namespace

// The interface is all that the library shows (see exports.map).
#pragma GCC visibility push(default)
extern "C" {

const char* varicode_version(void) { return PATTERNLADDER_VERSION; }

int varicode_open(const char* directory, varicode_map** map, varicode_error* error) {
  if (map == nullptr) return fail(error, "no place for the map was given");
  *map = nullptr;
  return guarded(error, [&] {
    const std::string_view where = directory != nullptr ? directory : "";
    FileBytes files[4];
    const std::string_view names[4] = {code_map_file, valid_chars_file, recurrent_file, start_file};
    for (int i = 0; i < 4; ++i) {
      const std::string problem = read_map_file(where, names[i], i != 0, files[i]);
      if (!problem.empty()) return fail(error, problem);
    }
    std::string name(where);
    if (!name.empty() && name.back() != '/') name += '/';
    name += code_map_file;
    CodeMap codes;
    const std::string problem = code_map_from_bytes(name, files[0].view(), codes);
    if (!problem.empty()) return fail(error, problem);
    files[0] = {};
    auto opened = std::make_unique<varicode_map>();
    opened->coder =
        build_coder(codes, definitions_from_bytes(files[1].view(), files[2].view(), files[3].view()));
    opened->decoder = build_decoder(std::move(codes));
    *map = opened.release();
    return static_cast<int>(VARICODE_OK);
  });
}

void varicode_close(varicode_map* map) { delete map; }

int varicode_encode_text(const varicode_map* map, const char* website, std::size_t length, char* out,
                         std::size_t capacity, std::size_t* size, varicode_error* error) {
  if (map == nullptr || (website == nullptr && length != 0))
    return fail(error, "no map or no website was given");
  return guarded(error, [&] {
    std::string bits;
    const std::string problem = encode_website(*map, {website, length}, bits);
    if (!problem.empty()) return fail(error, problem);
    return give(bits, out, capacity, size, error);
  });
}

int varicode_encode_packed(const varicode_map* map, const char* website, std::size_t length,
                           unsigned char* out, std::size_t capacity, std::size_t* bits,
                           varicode_error* error) {
  if (map == nullptr || (website == nullptr && length != 0))
    return fail(error, "no map or no website was given");
  return guarded(error, [&] {
    std::string text;
    const std::string problem = encode_website(*map, {website, length}, text);
    if (!problem.empty()) return fail(error, problem);
    if (bits != nullptr) *bits = text.size();
    std::string packed((text.size() + 7) / 8, '\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '1') packed[i / 8] = static_cast<char>(packed[i / 8] | 0x80 >> (i % 8));
    }
    return give(packed, out, capacity, nullptr, error);
  });
}

int varicode_decode_text(const varicode_map* map, const char* code, std::size_t length, char* out,
                         std::size_t capacity, std::size_t* size, varicode_error* error) {
  if (map == nullptr || (code == nullptr && length != 0)) return fail(error, "no map or no code was given");
  return guarded(error, [&] {
    std::string text;
    const std::string problem = decode_line(map->decoder, {code, length}, text);
    if (!problem.empty()) return fail(error, "not a code of this map: " + problem);
    return give(text, out, capacity, size, error);
  });
}

int varicode_decode_packed(const varicode_map* map, const unsigned char* code, std::size_t bits, char* out,
                           std::size_t capacity, std::size_t* size, varicode_error* error) {
  if (map == nullptr || (code == nullptr && bits != 0)) return fail(error, "no map or no code was given");
  return guarded(error, [&] {
    std::string line(bits, '0');
    for (std::size_t i = 0; i < bits; ++i) {
      if ((code[i / 8] >> (7 - i % 8) & 1) != 0) line[i] = '1';
    }
    std::string text;
    const std::string problem = decode_line(map->decoder, line, text);
    if (!problem.empty()) return fail(error, "not a code of this map: " + problem);
    return give(text, out, capacity, size, error);
  });
}

}  // extern "C"
#pragma GCC visibility pop

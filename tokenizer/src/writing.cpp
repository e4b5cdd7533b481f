// Writing lines: each line's output is the bytes of its tokens, which the
// walk copies from what each node writes when it pops (node_bytes.cpp).
//
// The fast step copies without a branch on whether it pops: every step
// copies the node's bytes, copy_width of them, and moves on by their length
// when the step pops, else by nothing. Which steps pop follows the text, and
// a branch on it would be mispredicted at every other token. Slow steps, and
// the pops whose bytes are not kept, go by the general rule, which copies
// token by token; a token without bytes stops the line's output there, and
// the line writes nothing.
//
// A line is written into a room that only grows, so that nothing is cleared
// before it is written and a copy may always take copy_width bytes. A block
// of lines is cut into parts that are written side by side (side_by_side.h),
// each into a room of its own; a line that cannot go side by side (a valid
// byte right after its text, or a very long line) is written alone on the
// way, with the walk of one line (line_walk.h).
#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

#include "line_walk.h"
#include "side_by_side.h"
#include "start_patterns.h"
#include "trim.h"

namespace {

// A buffer that output is written into.
struct Room {
  std::unique_ptr<char[]> bytes;
  std::size_t size = 0;
};

// Makes `room` hold `size` bytes at least, keeping its first `used`.
void reserve(Room& room, std::size_t used, std::size_t size) {
  if (size <= room.size) return;
  std::size_t grown = std::max<std::size_t>(room.size * 2, 4096);
  while (grown < size) grown *= 2;
  auto bytes = std::make_unique_for_overwrite<char[]>(grown);
  if (used != 0) std::memcpy(bytes.get(), room.bytes.get(), used);
  room.bytes = std::move(bytes);
  room.size = grown;
}

// Copies `size` bytes of `from`, which has copy_width bytes or more to read,
// to `to`, which has room for copy_width bytes or more.
inline void copy_pop(char* to, const char* from, std::size_t size) {
  std::memcpy(to, from, copy_width);
  if (size > copy_width) [[unlikely]]
    std::memcpy(to + copy_width, from + copy_width, size - copy_width);
}

// Writes into a room, making it grow as it goes.
struct Writer {
  Room& room;
  char* at = room.bytes.get();

  void put(const char* from, std::size_t size) {
    const auto used = static_cast<std::size_t>(at - room.bytes.get());
    if (room.size - used < size + copy_width) {
      reserve(room, used, used + size + copy_width);
      at = room.bytes.get() + used;
    }
    copy_pop(at, from, size);
    at += size;
  }
};

// A pop by the general rule: the node's kept bytes, else token by token; a
// token without bytes clears `written` and goes to `unwritten`.
template <typename Put>
void pop_generally(const Automaton& a, std::uint32_t v, bool& written, std::vector<Unwritten>& unwritten,
                   Put&& put) {
  const NodeBytes& w = a.written;
  if (w.pops[v] != 0) {
    put(w.bytes.data() + pop_begin(w, v), pop_size(w, v));
    return;
  }
  for_each_popped_token(a, v, [&](std::uint32_t token) {
    if (w.pops[token] == 0) {
      written = false;
      unwritten.push_back({true, text_of(a, token)});
    } else if (written) {
      put(w.bytes.data() + pop_begin(w, token), pop_size(w, token));
    }
  });
}

Unwritten invalid_byte(unsigned char byte) { return {false, std::string(1, static_cast<char>(byte))}; }

// The bytes a fast step on `entry` from node `v` copies, and how many it
// keeps: all of the node's when the step pops, else none.
struct StepBytes {
  std::uint32_t from;  // in NodeBytes::bytes
  std::uint32_t size;
};

inline StepBytes step_bytes(const std::uint64_t* pops, std::size_t v, std::uint32_t entry) {
  const std::uint64_t word = pops[v];
  return {static_cast<std::uint32_t>(word), static_cast<std::uint32_t>(word >> 32) & (0 - (entry >> 31))};
}

// Writes the output of `text`, a line trimmed and without its start pattern,
// from w.at on, its last token's trail included. False when a token has no
// bytes; what could not be written goes to `unwritten`.
bool write_text(const Automaton& a, std::string_view text, Writer& w, std::vector<Unwritten>& unwritten) {
  const std::uint64_t* const pops = a.written.pops.data();
  const char* const bytes = a.written.bytes.data();
  bool written = true;
  auto pop = [&](std::uint32_t v) {
    pop_generally(a, v, written, unwritten, [&](const char* from, std::size_t size) { w.put(from, size); });
  };
  const auto* const begin = reinterpret_cast<const unsigned char*>(text.data());
  const std::uint32_t node = walk_line(
      a, 0, begin, begin + text.size(),
      [&](std::uint32_t v, std::uint32_t entry) {
        const StepBytes step = step_bytes(pops, v, entry);
        w.put(bytes + step.from, step.size);
      },
      pop, [&](const unsigned char* at) { unwritten.push_back(invalid_byte(*at)); });
  pop_to_root(a, node, pop);
  return written;
}

// Lines with more bytes than this are written alone, their room grown as
// they go; the others have room made for their longest output when they
// begin.
constexpr std::size_t long_line = std::size_t{1} << 16;

// One part of a block of lines: its lines one after the other, and the
// output of each with a line feed, one after the other in its room.
struct WritingPart {
  // Where its walk stands (see side_by_side.h): the node's row, the rest of
  // the current line's text, up to `text_end`, and where the next bytes go.
  // `out` does not stand next to `next_byte`: the compiler would keep the
  // two in one vector register in the walk, at a cost.
  std::uint32_t row = 0;
  const unsigned char* next_byte = nullptr;
  const unsigned char* text_end = nullptr;
  char* out = nullptr;
  const char* next_line = nullptr;  // the lines not begun yet, up to `end`
  const char* end = nullptr;
  bool done = false;
  char* line_at = nullptr;           // where the current line's output begins
  bool written = true;               // no token of the line lacks bytes so far
  std::vector<Unwritten> unwritten;  // of the line
  Room room;
  WrittenLines lines;
};

// Makes room in `part` for `size` more bytes after line_at.
void make_room(WritingPart& part, std::size_t size) {
  char* const begin = part.room.bytes.get();
  const auto used = static_cast<std::size_t>(part.line_at - begin);
  if (part.room.size - used >= size) return;
  const auto out = static_cast<std::size_t>(part.out - begin);
  reserve(part.room, std::max(out, used), used + size);
  part.out = part.room.bytes.get() + out;
  part.line_at = part.room.bytes.get() + used;
}

// Ends the line of `part`: pops what is left, leaves out the trail, and
// writes the line feed after its output, or alone when it has none.
void end_line(const Automaton& a, WritingPart& part) {
  pop_to_root(a, part.row >> a.row_shift, [&](std::uint32_t v) {
    pop_generally(a, v, part.written, part.unwritten, [&](const char* from, std::size_t size) {
      copy_pop(part.out, from, size);
      part.out += size;
    });
  });
  if (!part.written || part.out == part.line_at) {
    part.out = part.line_at;
  } else {
    part.out -= a.written.trail;
  }
  *part.out++ = '\n';
  if (!part.unwritten.empty()) [[unlikely]] {
    for (Unwritten& u : part.unwritten)
      part.lines.unwritten.emplace_back(part.lines.ends.size(), std::move(u));
    part.unwritten.clear();
  }
  part.lines.ends.push_back(static_cast<std::size_t>(part.out - part.room.bytes.get()));
}

// Writes `text`, the current line, alone, and ends it.
void write_alone(const Automaton& a, WritingPart& part, std::string_view text) {
  const auto line_at = static_cast<std::size_t>(part.line_at - part.room.bytes.get());
  Writer w{part.room, part.out};
  part.written = write_text(a, text, w, part.unwritten);
  part.out = w.at;
  part.line_at = part.room.bytes.get() + line_at;
  make_room(part, static_cast<std::size_t>(part.out - part.line_at) + 1);
  end_line(a, part);
}

// Begins the next line of `part`, writing on the way the lines that are
// written alone; false when the part has no line left. A line is walked side
// by side when the byte after its text is invalid, as a line feed is: the
// step on it is slow, which ends the line, so that the walk needs no check of
// its own for the end.
bool begin_line(const Automaton& a, WritingPart& part) {
  const bool table = walks_lines_apart(a);
  while (part.next_line != part.end) {
    const auto rest = static_cast<std::size_t>(part.end - part.next_line);
    const char* lf = static_cast<const char*>(std::memchr(part.next_line, '\n', rest));
    const char* line_end = lf != nullptr ? lf : part.end;
    const std::string_view trimmed =
        trim_view(std::string_view(part.next_line, static_cast<std::size_t>(line_end - part.next_line)));
    const std::string_view text = trimmed.substr(start_pattern_length(a.start, trimmed));
    part.lines.lost_start += text.size() != trimmed.size() ? 1 : 0;
    part.next_line = lf != nullptr ? lf + 1 : part.end;
    const char* after = text.data() + text.size();
    const bool alone = !table || text.size() > long_line || after == part.end ||
                       a.byte_class[static_cast<unsigned char>(*after)] != 0;
    part.line_at = part.out;
    // A token takes one byte of the text at least.
    make_room(part, (alone ? 0 : text.size() * a.written.longest_token) + copy_width + 1);
    part.written = true;
    part.row = 0;
    if (!alone) {
      part.next_byte = reinterpret_cast<const unsigned char*>(text.data());
      part.text_end = part.next_byte + text.size();
      return true;
    }
    write_alone(a, part, text);
  }
  part.done = true;
  return false;
}

// Writing side by side: the fast step copies the bytes of the node it
// leaves, and keeps them when it pops.
struct WritingWalk {
  using Part = WritingPart;
  using Out = char*;
  const Automaton& automaton;
  struct {
    const std::uint64_t* pops;
    const char* bytes;

    template <unsigned Shift>
    void step(std::size_t /*i*/, std::size_t row, std::uint32_t entry, char*& out) const {
      const StepBytes kept = step_bytes(pops, row >> Shift, entry);
      std::memcpy(out, bytes + kept.from, copy_width);
      out += kept.size;
    }
  } fast;

  // The end of the line, or a step by the general rule; false when the part
  // is done.
  bool slow(WritingPart& part) const {
    const Automaton& a = automaton;
    if (part.next_byte - 1 == part.text_end) {
      end_line(a, part);
      return begin_line(a, part);
    }
    const unsigned char byte = part.next_byte[-1];
    const std::uint32_t node = step_by_failures(
        a, part.row >> a.row_shift, byte,
        [&](std::uint32_t v) {
          pop_generally(a, v, part.written, part.unwritten, [&](const char* from, std::size_t size) {
            copy_pop(part.out, from, size);
            part.out += size;
          });
        },
        [&] { part.unwritten.push_back(invalid_byte(byte)); });
    part.row = node << a.row_shift;
    return true;
  }

  bool can_go_on(const WritingPart& part) const { return !part.done; }
};

}  // namespace

bool write_line(const Tokenizer& t, std::string_view line, std::string& out,
                std::vector<Unwritten>& unwritten) {
  thread_local Room room;
  const Automaton& a = *t.automaton;
  Writer w{room};
  if (!write_text(a, without_start_pattern(t, trim_view(line)), w, unwritten)) return false;
  if (w.at != room.bytes.get()) out.append(room.bytes.get(), w.at - a.written.trail);
  return true;
}

void write_lines(const Tokenizer& t, std::string_view lines,
                 const std::function<void(const WrittenLines&)>& take) {
  const Automaton& a = *t.automaton;
  thread_local std::array<WritingPart, parts_side_by_side> parts;
  // Parts of about the same size, cut after line feeds, each at its first
  // line walked side by side.
  std::size_t from = 0;
  for (std::size_t i = 0; i < parts_side_by_side; ++i) {
    WritingPart& part = parts[i];
    const std::size_t cut = cut_after_line_feed(lines, from, i, parts_side_by_side);
    part.next_line = lines.data() + from;
    part.end = lines.data() + cut;
    part.done = false;
    part.lines.ends.clear();
    part.lines.unwritten.clear();
    part.lines.lost_start = 0;
    reserve(part.room, 0, copy_width);
    part.out = part.line_at = part.room.bytes.get();
    from = cut;
    begin_line(a, part);
  }
  WritingWalk walk{a, {a.written.pops.data(), a.written.bytes.data()}};
  walk_parts_side_by_side(walk, parts);
  for (WritingPart& part : parts) {
    if (part.lines.ends.empty()) continue;
    part.lines.bytes =
        std::string_view(part.room.bytes.get(), static_cast<std::size_t>(part.out - part.room.bytes.get()));
    take(part.lines);
  }
}

// Encoding: the tokens of a line, each written as its code word.
#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>

#include "output.h"
#include "pattern_file.h"
#include "patterntally.h"
#include "token_walk.h"
#include "trim.h"
#include "varicode.h"

namespace {

// What popping the nodes writes is kept while it takes at most this many
// bytes in all; a node past it pops token by token.
constexpr std::size_t kept_pops_limit = std::size_t{64} << 20;

// The length of pops that are not kept.
constexpr std::uint32_t no_pops = 0xFFFFFFFF;

// Pops are copied this many bytes at a time, whatever their length: pop_bits
// has as many bytes after its last pop, and a line's room as many after its
// code.
constexpr std::size_t copy_width = 32;

// Where the kept pops of node `v` stand in pop_bits, and their length (0
// when they are not kept).
inline std::uint32_t pop_begin(const Coder& c, std::uint32_t v) {
  return static_cast<std::uint32_t>(c.pops[v]);
}
inline std::uint32_t pop_size(const Coder& c, std::uint32_t v) {
  return static_cast<std::uint32_t>(c.pops[v] >> 32);
}

// Appends "00" and the code word of each token that popping `v` gives, when
// each has one.
void append_pops(const Coder& c, std::uint32_t v, std::string& bits) {
  for_each_popped_token(c.tokenizer, v, [&](std::uint32_t token) {
    bits += "00";
    bits.append(c.pop_bits, pop_begin(c, token) + 2, c.code_size[token]);
  });
}

// What popping each node writes, by its length: the tokens' lengths are
// given, and the length of each other node is set, or no_pops when a token
// it pops has no code word or the length passes kept_pops_limit. A node pops
// what its parent pops, then what its extra pops pop, all of them shallower
// and so numbered before it: the lengths add up, and no node's pops need be
// expanded.
void measure_pops(const Tokenizer& t, std::vector<std::uint32_t>& size) {
  for (std::size_t v = 1; v < t.parent.size(); ++v) {
    if (t.is_token[v]) continue;
    std::uint64_t sum = size[t.parent[v]];
    for (std::uint32_t i = t.extra_begin[v]; i < t.extra_begin[v + 1] && sum <= kept_pops_limit; ++i) {
      sum += size[t.extra_pops[i]];
    }
    size[v] = sum <= kept_pops_limit ? static_cast<std::uint32_t>(sum) : no_pops;
  }
}

// A buffer that code is written into: it only grows, so that nothing is
// cleared before it is written, and a pop is copied copy_width bytes at a
// time whatever its length.
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
struct CodeWriter {
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

// A pop as the general rule makes it: the node's kept bits, else token by
// token; a token without a code word clears `coded` and goes to `uncoded`.
template <typename Put>
void pop_generally(const Coder& c, std::uint32_t v, bool& coded, std::vector<Uncoded>& uncoded, Put&& put) {
  if (c.pops[v] != 0) {
    put(c.pop_bits.data() + pop_begin(c, v), pop_size(c, v));
    return;
  }
  for_each_popped_token(c.tokenizer, v, [&](std::uint32_t token) {
    if (c.code_size[token] == 0) {
      coded = false;
      uncoded.push_back({true, text_of(c.tokenizer, token)});
    } else if (coded) {
      put(c.pop_bits.data() + pop_begin(c, token), pop_size(c, token));
    }
  });
}

// Whether the table walks a line, one lookup a byte (see walk_tokens).
bool dense_walk(const Tokenizer& t) { return !t.table.empty() && t.line_start_row == 0; }

// The walks below make the step that pops one node without a branch on
// whether it pops: each step copies the node's pops, copy_width bytes, and
// moves on by their length when it pops, else by nothing. Which steps pop
// follows the text, and a branch on it would be mispredicted at every other
// token. The pops that cannot be copied so, not kept or longer, are left to
// the general rule: build_coder makes the steps that pop them slow in the
// coder's table.
//
// The bits a step on `entry` from node `v` writes, and how many it keeps.
struct StepPops {
  std::uint32_t from;  // in pop_bits
  std::uint32_t size;  // 0 unless the step pops
};

inline StepPops step_pops(const std::uint64_t* pops, std::size_t v, std::uint32_t entry) {
  const std::uint64_t word = pops[v];
  return {static_cast<std::uint32_t>(word), static_cast<std::uint32_t>(word >> 32) & (0 - (entry >> 31))};
}

// Writes the code of `text`, a line trimmed and without its start pattern,
// from w.at on: "00" and the code word of each token. False when a token has
// no code word; what could not be coded goes to `uncoded`.
bool write_code(const Coder& c, std::string_view text, CodeWriter& w, std::vector<Uncoded>& uncoded) {
  const Tokenizer& t = c.tokenizer;
  bool coded = true;
  auto pop = [&](std::uint32_t v) {
    pop_generally(c, v, coded, uncoded, [&](const char* from, std::size_t size) { w.put(from, size); });
  };
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* const end = p + text.size();
  auto invalid = [&] { uncoded.push_back({false, std::string(1, static_cast<char>(*p))}); };
  std::uint32_t node = 0;
  if (dense_walk(t)) {
    std::uint32_t row = 0;
    for (; p != end; ++p) {
      const std::uint32_t entry = t.table[row + t.byte_class[*p]];
      const std::uint32_t v = row >> t.row_shift;
      if ((entry & slow_bit) != 0) [[unlikely]] {
        row = step_by_failures(t, v, *p, pop, invalid) << t.row_shift;
        continue;
      }
      const StepPops step = step_pops(c.pops.data(), v, entry);
      w.put(c.pop_bits.data() + step.from, step.size);
      row = entry & row_mask;
    }
    node = row >> t.row_shift;
  } else {
    for (; p != end; ++p) node = step_by_failures(t, node, *p, pop, invalid);
  }
  // The end of the text pops what is left, failure by failure.
  for (; node != 0; node = t.fail[node]) pop(node);
  return coded;
}

// How many lines are walked side by side: the steps of one line wait on each
// other's table lookups, those of different lines do not.
constexpr std::size_t walks = 4;

// Lines with more bytes than this are written alone, their room grown as
// they go; the others have room made for their longest code when they begin.
constexpr std::size_t long_line = std::size_t{1} << 16;

// One walk over a part of a block of lines: its lines one after the other,
// and the code of each with a line feed, one after the other in its room
// from offset 2.
struct Part {
  const char* next_line = nullptr;  // the lines not begun yet, up to `end`
  const char* end = nullptr;
  bool done = false;
  // The line being walked: the rest of its text, the walk's row, and where
  // its code goes, from `line_at`. Its first pop writes the "00" that the
  // code goes without over the two bytes before `line_at`: they are kept in
  // `before`, and put back at the end of the line.
  const unsigned char* next_byte = nullptr;
  const unsigned char* text_end = nullptr;
  std::uint32_t row = 0;
  char* at = nullptr;
  char* line_at = nullptr;
  char before[2] = {};
  bool coded = true;
  std::vector<Uncoded> uncoded;  // of the line
  Room room;
  CodedLines lines;
};

// Makes room in `part` for `size` more bytes after line_at.
void make_room(Part& part, std::size_t size) {
  char* const begin = part.room.bytes.get();
  const auto used = static_cast<std::size_t>(part.line_at - begin);
  if (part.room.size - used >= size) return;
  const auto at = static_cast<std::size_t>(part.at - begin);
  reserve(part.room, std::max(at, used), used + size);
  part.at = part.room.bytes.get() + at;
  part.line_at = part.room.bytes.get() + used;
}

// Ends the line of `part`: pops what is left, puts back the two bytes before
// the line, and writes the line feed after its code, or alone when it has
// none.
void end_line(const Coder& c, Part& part) {
  const Tokenizer& t = c.tokenizer;
  for (std::uint32_t node = part.row >> t.row_shift; node != 0; node = t.fail[node]) {
    pop_generally(c, node, part.coded, part.uncoded, [&](const char* from, std::size_t size) {
      copy_pop(part.at, from, size);
      part.at += size;
    });
  }
  if (!part.coded || part.at < part.line_at) part.at = part.line_at;
  std::memcpy(part.line_at - 2, part.before, 2);
  *part.at++ = '\n';
  if (!part.uncoded.empty()) [[unlikely]] {
    for (Uncoded& u : part.uncoded) part.lines.uncoded.emplace_back(part.lines.ends.size(), std::move(u));
    part.uncoded.clear();
  }
  part.lines.ends.push_back(static_cast<std::size_t>(part.at - (part.room.bytes.get() + 2)));
}

// Begins the next line of `part`, writing on the way the lines that are
// written alone; false when the part has no line left. A line is walked side
// by side when the byte after its text is invalid, as a line feed is: the
// step on it takes the branch, which ends the line, so that the walk needs
// no check of its own for the end.
bool begin_line(const Coder& c, Part& part) {
  const Tokenizer& t = c.tokenizer;
  const bool dense = dense_walk(t);
  while (part.next_line != part.end) {
    const auto rest = static_cast<std::size_t>(part.end - part.next_line);
    const char* lf = static_cast<const char*>(std::memchr(part.next_line, '\n', rest));
    const char* line_end = lf != nullptr ? lf : part.end;
    const std::string_view trimmed =
        trim_view(std::string_view(part.next_line, static_cast<std::size_t>(line_end - part.next_line)));
    const std::string_view text = trimmed.substr(start_pattern_length(c.start, trimmed));
    part.next_line = lf != nullptr ? lf + 1 : part.end;
    const char* after = text.data() + text.size();
    const bool alone = !dense || text.size() > long_line || after == part.end ||
                       t.byte_class[static_cast<unsigned char>(*after)] != 0;
    part.line_at = part.at;
    // A token takes one byte of the text at least.
    make_room(part, (alone ? 0 : text.size() * c.longest_token_pops) + copy_width + 1);
    std::memcpy(part.before, part.line_at - 2, 2);
    part.at = part.line_at - 2;
    part.coded = true;
    part.row = 0;
    if (!alone) {
      part.next_byte = reinterpret_cast<const unsigned char*>(text.data());
      part.text_end = part.next_byte + text.size();
      return true;
    }
    const auto line_at = static_cast<std::size_t>(part.line_at - part.room.bytes.get());
    CodeWriter w{part.room, part.at};
    part.coded = write_code(c, text, w, part.uncoded);
    part.at = w.at;
    part.line_at = part.room.bytes.get() + line_at;
    make_room(part, static_cast<std::size_t>(std::max(part.at, part.line_at) - part.line_at) + 1);
    end_line(c, part);
  }
  part.done = true;
  return false;
}

// The step of `part` on the byte before part.next_byte that took the branch:
// the end of its line, or a step by the general rule. False when the part is
// done.
bool step_slowly(const Coder& c, Part& part) {
  if (part.next_byte - 1 == part.text_end) {
    end_line(c, part);
    return begin_line(c, part);
  }
  const Tokenizer& t = c.tokenizer;
  const unsigned char byte = part.next_byte[-1];
  const std::uint32_t node = step_by_failures(
      t, part.row >> t.row_shift, byte,
      [&](std::uint32_t v) {
        pop_generally(c, v, part.coded, part.uncoded, [&](const char* from, std::size_t size) {
          copy_pop(part.at, from, size);
          part.at += size;
        });
      },
      [&] {
        part.uncoded.push_back({false, std::string(1, static_cast<char>(byte))});
      });
  part.row = node << t.row_shift;
  return true;
}

// Walks the `N` parts side by side, one byte of each in turn, until one of
// them is done. Each walk lives in registers, its row, its next byte and
// where it writes; the rare steps go through its Part. `Shift` is the
// table's row_shift when it is one of those written out, else 0.
template <unsigned Shift, std::size_t N>
void walk_side_by_side(const Coder& c, const std::array<Part*, N>& parts) {
  static_assert(N >= 1 && N <= 4);
  const std::uint32_t* const table = c.tokenizer.table.data();
  const std::uint8_t* const byte_class = c.tokenizer.byte_class.data();
  const std::uint64_t* const pops = c.pops.data();
  const char* const pop_bits = c.pop_bits.data();
  const unsigned shift = Shift != 0 ? Shift : c.tokenizer.row_shift;
  // One step of walk i; false when its part is done.
  auto step_one = [&](std::size_t i, std::size_t & row, const unsigned char*& next, char*& at)
      __attribute__((always_inline)) {
    const std::uint32_t entry = table[row + byte_class[*next++]];
    if ((entry & slow_bit) != 0) [[unlikely]] {
      Part& part = *parts[i];
      part.row = static_cast<std::uint32_t>(row), part.next_byte = next, part.at = at;
      const bool going = step_slowly(c, part);
      row = part.row, next = part.next_byte, at = part.at;
      return going;
    }
    const StepPops step = step_pops(pops, row >> shift, entry);
    std::memcpy(at, pop_bits + step.from, copy_width);
    at += step.size;
    row = entry & row_mask;
    return true;
  };
  std::size_t row0 = parts[0]->row, row1 = 0, row2 = 0, row3 = 0;
  const unsigned char *next0 = parts[0]->next_byte, *next1 = nullptr, *next2 = nullptr, *next3 = nullptr;
  char *at0 = parts[0]->at, *at1 = nullptr, *at2 = nullptr, *at3 = nullptr;
  if constexpr (N > 1) row1 = parts[1]->row, next1 = parts[1]->next_byte, at1 = parts[1]->at;
  if constexpr (N > 2) row2 = parts[2]->row, next2 = parts[2]->next_byte, at2 = parts[2]->at;
  if constexpr (N > 3) row3 = parts[3]->row, next3 = parts[3]->next_byte, at3 = parts[3]->at;
  for (;;) {
    if (!step_one(0, row0, next0, at0)) break;
    if constexpr (N > 1)
      if (!step_one(1, row1, next1, at1)) break;
    if constexpr (N > 2)
      if (!step_one(2, row2, next2, at2)) break;
    if constexpr (N > 3)
      if (!step_one(3, row3, next3, at3)) break;
  }
  parts[0]->row = static_cast<std::uint32_t>(row0), parts[0]->next_byte = next0, parts[0]->at = at0;
  if constexpr (N > 1)
    parts[1]->row = static_cast<std::uint32_t>(row1), parts[1]->next_byte = next1, parts[1]->at = at1;
  if constexpr (N > 2)
    parts[2]->row = static_cast<std::uint32_t>(row2), parts[2]->next_byte = next2, parts[2]->at = at2;
  if constexpr (N > 3)
    parts[3]->row = static_cast<std::uint32_t>(row3), parts[3]->next_byte = next3, parts[3]->at = at3;
}

template <unsigned Shift>
void walk_active(const Coder& c, const std::array<Part*, walks>& active, std::size_t count) {
  static_assert(walks == 4);
  if (count == 4) return walk_side_by_side<Shift, 4>(c, {active[0], active[1], active[2], active[3]});
  if (count == 3) return walk_side_by_side<Shift, 3>(c, {active[0], active[1], active[2]});
  if (count == 2) return walk_side_by_side<Shift, 2>(c, {active[0], active[1]});
  walk_side_by_side<Shift, 1>(c, {active[0]});
}

// Walks the first `count` of `active` side by side.
void walk_active(const Coder& c, const std::array<Part*, walks>& active, std::size_t count) {
  switch (c.tokenizer.row_shift) {
    case 6:
      return walk_active<6>(c, active, count);
    case 7:
      return walk_active<7>(c, active, count);
    case 8:
      return walk_active<8>(c, active, count);
    default:
      return walk_active<0>(c, active, count);
  }
}

}  // namespace

Coder build_coder(const CodeMap& map) {
  Coder c;
  Output ignored = memory_output();
  const Definitions d = read_definition_files(ignored);
  c.start = build_start_matcher(d.start);
  // Lines are cut before they are walked: the walk of one line wants the
  // table without the rows of line ends.
  c.tokenizer = build_tokenizer(d.valid, d.recurrent, c.start, TokenizerWalk::dense);
  // Encoding counts nothing: the counters go before the coder's own words
  // per node come.
  c.tokenizer.pop_count = {};
  c.tokenizer.end_count = {};
  std::unordered_map<std::string_view, std::uint32_t> code_of;
  for (std::size_t i = 0; i < map.patterns.size(); ++i) code_of.emplace(map.patterns[i], i);
  const Tokenizer& t = c.tokenizer;
  const std::size_t nodes = t.parent.size();
  // 1. Token nodes first: each pops its own code word. `size` holds what
  // each node's pops take, no_pops when they are not kept.
  std::vector<std::uint32_t> size(nodes, no_pops);
  c.code_size.assign(nodes, 0);
  c.pops.assign(nodes, 0);
  for (std::size_t v = 1; v < nodes; ++v) {
    if (!t.is_token[v]) continue;
    const auto found = code_of.find(text_of(t, static_cast<std::uint32_t>(v)));
    if (found == code_of.end()) continue;
    const std::string& code = map.codes[found->second];
    size[v] = static_cast<std::uint32_t>(code.size() + 2);
    c.code_size[v] = static_cast<std::uint8_t>(code.size());
    c.pops[v] = std::uint64_t{size[v]} << 32 | c.pop_bits.size();
    c.pop_bits += "00";
    c.pop_bits += code;
    c.longest_token_pops = std::max(c.longest_token_pops, size[v]);
  }
  // 2. Then every other node whose pops are coded, while they fit in
  // kept_pops_limit bytes in all; the nodes are numbered breadth first, so
  // those kept are the shallow ones, which pop the most often.
  measure_pops(t, size);
  std::size_t end = c.pop_bits.size();
  for (std::size_t v = 1; v < nodes; ++v) {
    if (t.is_token[v] || size[v] == no_pops) continue;
    if (end + size[v] > kept_pops_limit) {
      size[v] = no_pops;
      continue;
    }
    end += size[v];
  }
  c.pop_bits.reserve(end + copy_width);
  for (std::size_t v = 1; v < nodes; ++v) {
    if (t.is_token[v] || size[v] == no_pops) continue;
    c.pops[v] = std::uint64_t{size[v]} << 32 | c.pop_bits.size();
    append_pops(c, static_cast<std::uint32_t>(v), c.pop_bits);
  }
  c.pop_bits.append(copy_width, '\0');
  // 3. The fast walk copies pops of up to copy_width bytes; the steps that
  // pop any other go by the general rule.
  for (std::size_t v = 0; v < nodes && !t.table.empty(); ++v) {
    if (size[v] != no_pops && size[v] <= copy_width) continue;
    for (std::size_t i = 0; i < std::size_t{1} << t.row_shift; ++i) {
      std::uint32_t& entry = c.tokenizer.table[(v << t.row_shift) + i];
      if ((entry & fail_bit) != 0) entry = slow_bit;
    }
  }
  return c;
}

bool encode_line(const Coder& c, std::string_view line, std::string& bits, std::vector<Uncoded>& uncoded) {
  thread_local Room room;
  const std::string_view trimmed = trim_view(line);
  CodeWriter w{room};
  if (!write_code(c, trimmed.substr(start_pattern_length(c.start, trimmed)), w, uncoded)) return false;
  if (w.at != room.bytes.get()) bits.append(room.bytes.get() + 2, w.at);  // no "00" before the first code
  return true;
}

std::size_t cut_after_line_feed(std::string_view lines, std::size_t from, std::size_t part,
                                std::size_t parts) {
  if (part + 1 >= parts) return lines.size();
  const std::size_t lf = lines.find('\n', std::max(from, lines.size() * (part + 1) / parts));
  return lf == std::string_view::npos ? lines.size() : lf + 1;
}

void encode_lines(const Coder& c, std::string_view lines,
                  const std::function<void(const CodedLines&)>& take) {
  thread_local std::array<Part, walks> parts;
  // Parts of about the same size, cut after line feeds.
  std::array<Part*, walks> active{};
  std::size_t count = 0;
  const char* from = lines.data();
  for (std::size_t i = 0; i < walks; ++i) {
    Part& part = parts[i];
    const char* cut =
        lines.data() + cut_after_line_feed(lines, static_cast<std::size_t>(from - lines.data()), i, walks);
    part.next_line = from;
    part.end = cut;
    part.done = false;
    part.lines.ends.clear();
    part.lines.uncoded.clear();
    reserve(part.room, 0, 2 + copy_width);
    part.at = part.line_at = part.room.bytes.get() + 2;
    from = cut;
    if (begin_line(c, part)) active[count++] = &part;
  }
  while (count != 0) {
    walk_active(c, active, count);
    count = static_cast<std::size_t>(std::remove_if(active.begin(),
                                                    active.begin() + static_cast<std::ptrdiff_t>(count),
                                                    [](const Part* part) { return part->done; }) -
                                     active.begin());
  }
  for (Part& part : parts) {
    if (part.lines.ends.empty()) continue;
    char* const codes = part.room.bytes.get() + 2;
    part.lines.codes = std::string_view(codes, static_cast<std::size_t>(part.at - codes));
    take(part.lines);
  }
}

#include "bitladder.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>

#include "code_words.h"
#include "line_reader.h"
#include "messages.h"
#include "output.h"
#include "progress.h"
#include "trim.h"

namespace {

// Records start at multiples of 8 in blocks of at least this size; a longer
// line gets a block of its own, with its record at offset 0.
constexpr unsigned offset_bits = 20;
constexpr unsigned position_bits = 40;  // block number and offset: a terabyte of lines
constexpr std::uint64_t position_mask = (std::uint64_t{1} << position_bits) - 1;
constexpr std::uint64_t tag_mask = ~position_mask;  // the top 24 bits of the hash

const char* record_at(const LineSet& set, std::uint64_t slot) {
  const std::uint64_t position = (slot & position_mask) - 1;
  return set.blocks[position >> offset_bits].get() + (position & ((1u << offset_bits) - 1));
}

std::string_view record_text(const char* record) {
  std::size_t size = 0;
  std::memcpy(&size, record, sizeof size);
  return {record + sizeof size, size};
}

// Copies `line` into the blocks; returns its position plus one.
std::uint64_t store_record(LineSet& set, std::string_view line) {
  const std::size_t needed = sizeof(std::size_t) + line.size();
  if (set.blocks.empty() || set.block_size - set.block_used < needed) {
    set.block_size = std::max<std::size_t>(std::size_t{1} << offset_bits, needed);
    set.blocks.push_back(std::make_unique<char[]>(set.block_size));
    set.block_used = 0;
  }
  char* record = set.blocks.back().get() + set.block_used;
  const std::size_t size = line.size();
  std::memcpy(record, &size, sizeof size);
  if (size != 0) std::memcpy(record + sizeof size, line.data(), size);
  const std::uint64_t position = ((set.blocks.size() - 1) << offset_bits) | set.block_used;
  set.block_used = std::min(set.block_size, set.block_used + ((needed + 7) & ~std::size_t{7}));
  return position + 1;
}

}  // namespace

std::uint64_t line_hash(std::string_view line) { return std::hash<std::string_view>{}(line); }

bool insert_line(LineSet& set, std::string_view line, std::uint64_t hash) {
  const std::uint64_t tag = hash & tag_mask;
  const auto holds = [&](std::uint64_t slot) {
    return (slot & tag_mask) == tag && record_text(record_at(set, slot)) == line;
  };
  // While the table has at most 2^24 slots, a slot's tag tells where it goes
  // when the table grows, and the line need not be read.
  const auto hash_of = [&](std::uint64_t slot, unsigned shift) {
    return shift >= position_bits ? slot : line_hash(record_text(record_at(set, slot)));
  };
  bool added = false;
  const std::size_t at = find_or_add(set.table, hash, holds, hash_of, added);
  if (added) set.table.slots[at] = tag | store_record(set, line);
  return added;
}

namespace {

// Lines go in batches: all hashes first, with their slots fetched, then in
// order. The lines of a batch come from one block, which stays in place.
constexpr std::size_t batch_size = 16;

struct LineBatch {
  std::array<std::string_view, batch_size> lines;
  std::array<std::uint64_t, batch_size> hashes{};
  std::size_t count = 0;
};

// Takes the next lines of `block`, trimmed, into `batch`, and asks for the
// slots of their hashes in `coded`.
void take_batch(std::string_view& block, const LineSet& coded, LineBatch& batch) {
  for (batch.count = 0; batch.count < batch_size && !block.empty(); ++batch.count) {
    batch.lines[batch.count] = trim_view(take_line(block));
    batch.hashes[batch.count] = line_hash(batch.lines[batch.count]);
    prefetch_slot(coded.table, batch.hashes[batch.count]);
  }
}

// The code map as it is written: the lines given a code word so far, and the
// last code word.
struct CodeMapWriting {
  LineSet coded;
  std::string code;
  std::uint64_t total = 0;
};

// Gives each new line of `batch` the next code word, written to `code_map`;
// a blank or repeated line gets a message instead.
void code_batch(const LineBatch& batch, CodeMapWriting& writing, Output& code_map, Output& messages) {
  for (std::size_t k = 0; k < batch.count; ++k) {
    const std::string_view line = batch.lines[k];
    if (line.empty() || !insert_line(writing.coded, line, batch.hashes[k])) {
      put_repeated_line_message([&](std::string_view piece) { write_output(messages, piece); }, line);
      continue;
    }
    next_code(writing.code);
    ++writing.total;
    write_output(code_map, writing.code);
    write_output(code_map, " ");
    write_output(code_map, line);
    write_output(code_map, "\n");
  }
}

}  // namespace

int run_bitladder() {
  Output& messages = standard_output();
  // An input that cannot be read stops the run before the code map is
  // started, or, when its first read fails, without replacing it.
  LineReader input = open_lines(ranked_file);
  if (input.unreadable) return exit_status();
  check_standard_output({ranked_file});
  Output code_map = create_output(code_map_file, {ranked_file});
  CodeMapWriting writing;
  LineBatch batch;
  std::string_view block;
  start_progress([](double seconds) {
    const auto done = static_cast<double>(progress_done.load(std::memory_order_relaxed));
    return "bitladder: " + format_count(done) + " lines coded, " +
           format_count(seconds > 0 ? done / seconds : 0) + " lines/s";
  });
  while (next_block(input, block)) {
    progress_done.store(writing.total, std::memory_order_relaxed);
    while (!block.empty()) {
      take_batch(block, writing.coded, batch);
      code_batch(batch, writing, code_map, messages);
    }
  }
  stop_progress();
  if (input.unreadable) {
    discard_output(code_map);
    return exit_status();
  }
  write_output(messages, code_summary(writing.total, writing.code.size()));
  close_lines(input);
  close_output(code_map);
  close_output(messages);
  return exit_status();
}

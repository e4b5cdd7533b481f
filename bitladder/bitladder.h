// One run of bitladder in the working directory: give each distinct
// non-empty trimmed line of the ranked file, in order, the next code word,
// and write the pairs to the code map (see file_names.h).
//
// The code words are all strings of '0' and '1' that begin and end with '1'
// and hold no "00", shortest first and in ascending order within a length:
// "1", "11", "101", "111", "1011", "1101", "1111", "10101", ... There are as
// many of length L as the L-th Fibonacci number (1, 1, 2, 3, 5, 8, ...).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "file_names.h"

// Turns `code` into the code word after it; "" becomes "1", the first. The
// rightmost '0' becomes '1' and what follows it becomes the smallest valid
// ending ("01" repeated, then "1" when an odd number of places is left); a
// code of all '1' is followed by the smallest code one longer. Amortized
// constant time: most codes end in few '1'.
void next_code(std::string& code);

// The set of lines already coded: each line's bytes are copied once into
// large blocks, and an open-addressing table of 8-byte slots points at them.
// A slot holds the top bits of the line's hash and where its record is
// (block number and offset within the block, plus one; 0 marks a free slot).
struct LineSet {
  using Slots = std::vector<std::uint64_t>;
  Slots slots = Slots(1024);  // a power of two
  std::size_t size = 0;
  std::vector<std::unique_ptr<char[]>> blocks;  // records: a size_t length, then the bytes
  std::size_t block_used = 0;
  std::size_t block_size = 0;
};

// The hash that insert_line takes.
std::uint64_t line_hash(std::string_view line);

// Asks the processor to fetch the slot where a line of this hash would go, so
// that inserting a batch of lines waits for memory once, not once per line.
void prefetch_slot(const LineSet& set, std::uint64_t hash);

// Adds `line`, whose line_hash is `hash`, to `set`; false when it was there
// already.
bool insert_line(LineSet& set, std::string_view line, std::uint64_t hash);
inline bool insert_line(LineSet& set, std::string_view line) {
  return insert_line(set, line, line_hash(line));
}

// The whole run; returns the exit status (0, or 1 after a reported failure).
// A ranked file that does not exist reads as empty, with a note; one that
// cannot be read ends the run with the code map as it was and no summary.
int run_bitladder();

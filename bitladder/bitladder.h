// One run of bitladder in the working directory: give each distinct
// non-empty trimmed line of the ranked file, in order, the next code word,
// and write the pairs to the code map (see file_names.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "file_names.h"
#include "hash_table.h"

// The set of lines already coded: each line's bytes are copied once into
// large blocks, and a hash table of 8-byte slots (see hash_table.h) points at
// them. A slot holds the top bits of the line's hash and where its record is
// (block number and offset within the block, plus one; 0 marks a free slot).
struct LineSet {
  HashTable<std::uint64_t> table;
  std::vector<std::unique_ptr<char[]>> blocks;  // records: a size_t length, then the bytes
  std::size_t block_used = 0;
  std::size_t block_size = 0;
};

// The hash that insert_line takes.
std::uint64_t line_hash(std::string_view line);

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

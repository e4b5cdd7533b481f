// An open-addressing hash table: a power-of-two array of slots, searched by
// linear probing from the slot that the top bits of a key's 64-bit hash name.
// What a slot holds is the caller's choice, so that it holds no more than it
// must: bitladder packs the top bits of a line's hash and where the line is
// kept into 8 bytes; suggest keeps a run's whole hash, which stands for the
// run, beside its counts. A slot that converts to false is free (0, for an
// integer; a struct says by its `explicit operator bool`), and so is Slot{};
// a slot that the table hands out for a new key is filled by the caller so
// that it is not.
// The table asks the caller two things, as functions:
//   holds(slot)           whether a slot in use holds the key looked for;
//   hash_of(slot, shift)  the hash of the key that a slot in use holds, to
//                         move it when the table grows; only its bits from
//                         bit `shift` up count, so that a slot that keeps
//                         the top bits of its hash needs nothing more while
//                         the table is small.
// The table is never more than half full, so that probes stay short and end
// at a free slot; it grows by doubling.
//
// Tested by hash_table_test.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

template <typename Slot>
struct HashTable {
  std::vector<Slot> slots = std::vector<Slot>(1024);
  std::size_t mask = 1023;  // slots.size() - 1
  unsigned shift = 54;      // 64 - log2(slots.size()): a hash's bits from here up name its first slot
  std::size_t size = 0;     // slots in use
  std::size_t limit = 512;  // the most slots in use before the table grows: half of them
};

// Empties `table` and makes room for `count` keys before it grows.
template <typename Slot>
void clear(HashTable<Slot>& table, std::size_t count = 0) {
  std::size_t slots = 1024;
  unsigned shift = 54;
  for (; slots < 2 * count; slots *= 2) --shift;
  table.slots.assign(slots, Slot{});
  table.mask = slots - 1;
  table.shift = shift;
  table.size = 0;
  table.limit = slots / 2;
}

// Asks the processor to fetch the first slot of `hash`, so that a batch of
// lookups waits for memory once, not once per lookup.
template <typename Slot>
void prefetch_slot(const HashTable<Slot>& table, std::uint64_t hash) {
  __builtin_prefetch(&table.slots[hash >> table.shift]);
}

namespace hash_table_detail {

// The first free slot of `slots` from `at` on.
template <typename Slot>
std::size_t first_free(const std::vector<Slot>& slots, std::size_t mask, std::size_t at) {
  while (slots[at]) at = (at + 1) & mask;
  return at;
}

// Doubles the slots of `table`, moving each by its hash.
template <typename Slot, typename HashOf>
void grow(HashTable<Slot>& table, HashOf&& hash_of) {
  std::vector<Slot> slots(2 * table.slots.size());
  const std::size_t mask = slots.size() - 1;
  const unsigned shift = table.shift - 1;
  for (Slot& slot : table.slots) {
    if (slot) slots[first_free(slots, mask, hash_of(std::as_const(slot), shift) >> shift)] = std::move(slot);
  }
  table.slots = std::move(slots);
  table.mask = mask;
  table.shift = shift;
  table.limit = (mask + 1) / 2;
}

}  // namespace hash_table_detail

// The index in table.slots of the slot that holds the key of `hash`, with
// `added` false; or, when no slot does, of a free slot for it, which the
// caller is to fill, with `added` true. An index stays valid until the next
// call that adds.
template <typename Slot, typename Holds, typename HashOf>
std::size_t find_or_add(HashTable<Slot>& table, std::uint64_t hash, Holds&& holds, HashOf&& hash_of,
                        bool& added) {
  const Slot* const slots = table.slots.data();
  const std::size_t mask = table.mask;
  std::size_t i = static_cast<std::size_t>(hash >> table.shift);
  for (; slots[i]; i = (i + 1) & mask) {
    if (holds(slots[i])) {
      added = false;
      return i;
    }
  }
  added = true;
  if (++table.size > table.limit) {
    hash_table_detail::grow(table, hash_of);
    i = hash_table_detail::first_free(table.slots, table.mask, static_cast<std::size_t>(hash >> table.shift));
  }
  return i;
}

// The slot that holds the key of `hash`, or null when none does.
template <typename Slot, typename Holds>
const Slot* find_slot(const HashTable<Slot>& table, std::uint64_t hash, Holds&& holds) {
  for (std::size_t i = static_cast<std::size_t>(hash >> table.shift); table.slots[i];
       i = (i + 1) & table.mask) {
    if (holds(table.slots[i])) return &table.slots[i];
  }
  return nullptr;
}

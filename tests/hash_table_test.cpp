#include "hash_table.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

// Against a map, through several growths, with hashes that are good, that
// collide in a few values, and that are all 0; with slots that hold the whole
// hash, and with slots that hold only the key's index and find the hash
// again when the table grows. Each key is added once, and found after.
TEST(HashTable, AgreesWithAMap) {
  const std::vector<std::function<std::uint64_t(const std::string&)>> hashes = {
      [](const std::string& key) { return std::hash<std::string>{}(key); },
      [](const std::string& key) { return std::hash<std::string>{}(key) % 8 << 61; },
      [](const std::string&) { return std::uint64_t{0}; },
  };
  struct Slot {
    std::uint64_t hash = 0;
    std::uint32_t key = 0;  // index in `keys` + 1; 0: free
    explicit operator bool() const { return key != 0; }
  };
  std::mt19937 rng(5);
  for (std::size_t h = 0; h < hashes.size(); ++h) {
    for (const bool keeps_hash : {true, false}) {
      SCOPED_TRACE("hash " + std::to_string(h) + (keeps_hash ? ", kept" : ", found again"));
      HashTable<Slot> table;
      std::vector<std::string> keys;
      std::map<std::string, std::uint32_t> expected;
      for (int step = 0; step < 6000; ++step) {
        const std::string key = std::to_string(rng() % 3000);
        const std::uint64_t hash = hashes[h](key);
        const auto holds = [&](const Slot& slot) { return keys[slot.key - 1] == key; };
        const auto hash_of = [&](const Slot& slot, unsigned) {
          return keeps_hash ? slot.hash : hashes[h](keys[slot.key - 1]);
        };
        bool added = false;
        const std::size_t at = find_or_add(table, hash, holds, hash_of, added);
        const auto [known, inserted] = expected.emplace(key, static_cast<std::uint32_t>(keys.size() + 1));
        ASSERT_EQ(inserted, added) << key;
        if (added) {
          keys.push_back(key);
          table.slots[at] = {keeps_hash ? hash : 0, static_cast<std::uint32_t>(keys.size())};
        }
        ASSERT_EQ(known->second, table.slots[at].key) << key;
      }
      EXPECT_EQ(expected.size(), table.size);
    }
  }
}

// Room made by clear is room: the indices of the keys added up to it stay
// valid, as a caller that keeps them relies on.
TEST(HashTable, ClearMakesRoomBeforeGrowing) {
  HashTable<std::uint64_t> table;
  for (const std::size_t count :
       {std::size_t{0}, std::size_t{1}, std::size_t{512}, std::size_t{513}, std::size_t{5000}}) {
    clear(table, count);
    const std::size_t slots = table.slots.size();
    for (std::uint64_t key = 1; key <= count; ++key) {
      const std::uint64_t hash = key * 0x9E3779B97F4A7C15ULL;
      bool added = false;
      const std::size_t at = find_or_add(
          table, hash, [&](std::uint64_t slot) { return slot == key; },
          [&](std::uint64_t slot, unsigned) { return slot * 0x9E3779B97F4A7C15ULL; }, added);
      table.slots[at] = key;
    }
    EXPECT_EQ(slots, table.slots.size()) << count;
    EXPECT_EQ(count, table.size);
  }
}

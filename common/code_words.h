// The code words of the pipeline: every string of '0' and '1' that begins and
// ends with '1' and holds no "00", shortest first and in ascending order
// within a length: "1", "11", "101", "111", "1011", "1101", "1111", "10101",
// ... There are as many of length L as the L-th Fibonacci number (1, 1, 2, 3,
// 5, 8, ...). bitladder gives them out in this order, one to each ranked
// pattern; varicode joins them with "00", which no code word holds, so that
// "00" can only stand between two of them.
//
// Tested by code_words_test.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The code words are at most this long (bitladder gives at most 2^32 codes,
// the longest of 47 bits).
inline constexpr std::size_t longest_code = 63;

// Turns `code` into the code word after it; "" becomes "1", the first. The
// rightmost '0' becomes '1' and what follows it becomes the smallest valid
// ending ("01" repeated, then "1" when an odd number of places is left); a
// code of all '1' is followed by the smallest code one longer. Amortized
// constant time: most codes end in few '1'.
void next_code(std::string& code);

// The lengths of the code words by rank, from rank 0: 1, 2, 3, 3, 4, 4, 4, 5,
// ... (as many of length L as the L-th Fibonacci number); empty for 0 ranks.
std::vector<std::uint32_t> code_lengths(std::size_t ranks);

// Whether `code` is a code word: '0' and '1' only, beginning and ending with
// '1', no "00", at most longest_code long.
bool is_code_word(std::string_view code);

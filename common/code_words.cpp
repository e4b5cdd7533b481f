#include "code_words.h"

void next_code(std::string& code) {
  const std::size_t zero = code.rfind('0');
  std::size_t from = 0;  // code[from..] is rewritten as the smallest valid ending
  if (zero == std::string::npos) {
    code.assign(code.size() + 1, '1');  // all '1': the first code one longer
    from = 1;
  } else {
    code[zero] = '1';
    from = zero + 1;
  }
  // After a '1', the smallest ending of m places that ends in '1' with no
  // "00" is "0101...01", or "0101...011" when m is odd.
  const std::size_t places = code.size() - from;
  for (std::size_t k = 0; k + 1 < places; k += 2) {
    code[from + k] = '0';
    code[from + k + 1] = '1';
  }
  if (places % 2 == 1) code[code.size() - 1] = '1';
}

std::vector<std::uint32_t> code_lengths(std::size_t ranks) {
  std::vector<std::uint32_t> lengths;
  lengths.reserve(ranks);
  std::uint64_t previous = 0;  // codes of length L - 1
  std::uint64_t current = 1;   // codes of length L
  for (std::uint32_t length = 1; lengths.size() < ranks; ++length) {
    for (std::uint64_t i = 0; i < current && lengths.size() < ranks; ++i) lengths.push_back(length);
    const std::uint64_t next = length == 1 ? 1 : previous + current;
    previous = current;
    current = next;
  }
  return lengths;
}

bool is_code_word(std::string_view code) {
  if (code.empty() || code.size() > longest_code || code.front() != '1' || code.back() != '1') return false;
  // One pass: '0' and '1' only, and no '0' after a '0'.
  char previous = '1';
  for (const char bit : code) {
    if ((bit != '0' && bit != '1') || (bit == '0' && previous == '0')) return false;
    previous = bit;
  }
  return true;
}

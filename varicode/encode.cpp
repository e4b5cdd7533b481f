// Encoding: the tokens of a line, each written as its code word. The
// tokeniser writes the lines; what it writes for each token is prepared here
// from the code map.
#include <functional>

#include "codec.h"
#include "hash_table.h"

namespace {

// What each token writes: its code word, then the "00" that the line leaves
// out after its last token.
constexpr std::string_view separator = "00";

}  // namespace

Coder build_coder(const CodeMap& map, const Definitions& definitions) {
  Coder coder;
  // Lines are cut before they are walked: the walk of one line wants the
  // table without the rows of line ends.
  coder.tokenizer =
      build_tokenizer(definitions.valid, definitions.recurrent, definitions.start, TokenizerWalk::dense);
  // The map's patterns by index + 1, to find each token's code word.
  HashTable<std::uint32_t> code_of;
  clear(code_of, map.patterns.size());
  auto hash_of = [](std::string_view pattern) { return std::hash<std::string_view>{}(pattern); };
  auto rehash = [&](std::uint32_t slot, unsigned) { return hash_of(map.patterns[slot - 1]); };
  for (std::size_t i = 0; i < map.patterns.size(); ++i) {
    bool added = false;
    const std::size_t slot = find_or_add(
        code_of, hash_of(map.patterns[i]), [&](std::uint32_t) { return false; }, rehash, added);
    code_of.slots[slot] = static_cast<std::uint32_t>(i + 1);
  }
  const std::uint32_t tokens = token_count(coder.tokenizer);
  std::vector<std::optional<std::string>> bytes(tokens);
  coder.code_size.assign(tokens, 0);
  for (std::uint32_t token = 0; token < tokens; ++token) {
    const std::string text = token_text(coder.tokenizer, token);
    const std::uint32_t* found = find_slot(
        code_of, hash_of(text), [&](std::uint32_t index) { return map.patterns[index - 1] == text; });
    if (found == nullptr) continue;
    const std::string_view code = map.codes[*found - 1];
    bytes[token] = std::string(code) + std::string(separator);
    coder.code_size[token] = static_cast<std::uint8_t>(code.size());
  }
  prepare_writing(coder.tokenizer, bytes, separator.size());
  return coder;
}

bool encode_line(const Coder& coder, std::string_view line, std::string& bits,
                 std::vector<Unwritten>& uncoded) {
  return write_line(coder.tokenizer, line, bits, uncoded);
}

void encode_lines(const Coder& coder, std::string_view lines,
                  const std::function<void(const WrittenLines&)>& take) {
  write_lines(coder.tokenizer, lines, take);
}

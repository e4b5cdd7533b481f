// Encoding: the tokens of a line, each written as its code word. The
// tokeniser writes the lines; what it writes for each token is prepared here
// from the code map.
#include <unordered_map>

#include "codec.h"

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
  std::unordered_map<std::string_view, std::uint32_t> code_of;
  for (std::size_t i = 0; i < map.patterns.size(); ++i) code_of.emplace(map.patterns[i], i);
  const std::uint32_t tokens = token_count(coder.tokenizer);
  std::vector<std::optional<std::string>> bytes(tokens);
  coder.code_size.assign(tokens, 0);
  for (std::uint32_t token = 0; token < tokens; ++token) {
    const auto found = code_of.find(token_text(coder.tokenizer, token));
    if (found == code_of.end()) continue;
    const std::string& code = map.codes[found->second];
    bytes[token] = code + std::string(separator);
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

// Encoding: the tokens of a line, each written as its code word.
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

// Appends "00" and the code word of each token that popping `v` gives; false,
// appending nothing, when one of them has no code word.
bool append_pops(const Coder& c, std::uint32_t v, std::string& bits) {
  const std::size_t kept = bits.size();
  bool coded = true;
  for_each_popped_token(c.tokenizer, v, [&](std::uint32_t token) {
    if (c.code_size[token] == 0) {
      coded = false;
      return;
    }
    bits += "00";
    bits.append(c.pop_bits, c.pop_begin[token] + 2, c.code_size[token]);
  });
  if (!coded) bits.resize(kept);
  return coded;
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
  std::unordered_map<std::string_view, std::uint32_t> code_of;
  for (std::size_t i = 0; i < map.patterns.size(); ++i) code_of.emplace(map.patterns[i], i);
  // Token nodes first: each its own code word.
  const Tokenizer& t = c.tokenizer;
  const std::size_t nodes = t.parent.size();
  c.token_pattern.resize(nodes);
  c.code_size.assign(nodes, 0);
  c.pop_begin.assign(nodes, no_pops);
  c.pop_size.assign(nodes, no_pops);
  for (std::size_t v = 1; v < nodes; ++v) {
    c.token_pattern[v] = c.token_pattern[t.parent[v]];
    c.token_pattern[v] += static_cast<char>(t.edge[v]);
  }
  for (std::size_t v = 1; v < nodes; ++v) {
    if (!t.is_token[v]) continue;
    const auto found = code_of.find(c.token_pattern[v]);
    if (found == code_of.end()) continue;
    const std::string& code = map.codes[found->second];
    c.pop_begin[v] = static_cast<std::uint32_t>(c.pop_bits.size());
    c.pop_size[v] = static_cast<std::uint32_t>(code.size() + 2);
    c.code_size[v] = static_cast<std::uint32_t>(code.size());
    c.pop_bits += "00";
    c.pop_bits += code;
  }
  // Then every other node, while what they write fits.
  std::string pops;
  for (std::size_t v = 1; v < nodes && c.pop_bits.size() < kept_pops_limit; ++v) {
    if (t.is_token[v]) continue;
    pops.clear();
    if (!append_pops(c, static_cast<std::uint32_t>(v), pops)) continue;
    c.pop_begin[v] = static_cast<std::uint32_t>(c.pop_bits.size());
    c.pop_size[v] = static_cast<std::uint32_t>(pops.size());
    c.pop_bits += pops;
  }
  for (std::size_t v = 1; v < nodes; ++v) {
    if (!t.is_token[v]) c.token_pattern[v].clear();
  }
  return c;
}

bool encode_line(const Coder& c, std::string_view line, std::string& bits, std::vector<Uncoded>& uncoded) {
  const std::string_view trimmed = trim_view(line);
  const std::string_view text = trimmed.substr(start_pattern_length(c.start, trimmed));
  const std::size_t kept = bits.size();
  bool coded = true;
  walk_tokens(
      c.tokenizer, text,
      [&](std::uint32_t v) {
        if (c.pop_size[v] != no_pops) {
          bits.append(c.pop_bits, c.pop_begin[v], c.pop_size[v]);
        } else if (!append_pops(c, v, bits)) {
          coded = false;
          for_each_popped_token(c.tokenizer, v, [&](std::uint32_t token) {
            if (c.code_size[token] == 0) uncoded.push_back({true, c.token_pattern[token]});
          });
        }
      },
      [&](std::size_t offset) { uncoded.push_back({false, std::string(1, text[offset])}); });
  if (!coded) {
    bits.resize(kept);
  } else if (bits.size() > kept) {
    bits.erase(kept, 2);  // no "00" before the first code word
  }
  return coded;
}

// What each node writes when it pops, made from what the caller gives each
// token. A node pops what its parent pops, then what its extra pops pop, all
// of them shallower and so numbered before it: one pass in node order finds
// every node's bytes, and none need be expanded while a line is written. The
// bytes are kept while they take at most kept_pops_limit in all, the shallow
// nodes first, which pop the most often; a step that pops a node whose bytes
// are not kept, or longer than a copy at a time, is made slow in the table,
// so that the fast step of the writing walks (writing.cpp) only ever copies.
#include <algorithm>

#include "automaton.h"

namespace {

// What popping the nodes writes is kept while it takes at most this many
// bytes in all; a node past it pops token by token.
constexpr std::size_t kept_pops_limit = std::size_t{64} << 20;

// The length of pops that are not kept.
constexpr std::uint32_t no_pops = 0xFFFFFFFF;

// Keeps the bytes of every token that has some; `size` becomes their length.
void keep_token_bytes(Automaton& a, const std::vector<std::optional<std::string>>& bytes,
                      std::vector<std::uint32_t>& size) {
  NodeBytes& w = a.written;
  for (std::uint32_t id = 0; id < a.token_node.size(); ++id) {
    if (!bytes[id]) continue;
    const std::uint32_t v = a.token_node[id];
    size[v] = static_cast<std::uint32_t>(bytes[id]->size());
    w.pops[v] = std::uint64_t{size[v]} << 32 | w.bytes.size();
    w.bytes += *bytes[id];
    w.longest_token = std::max(w.longest_token, size[v]);
  }
}

// The length of what every other node writes, from the tokens' lengths, or
// no_pops when a token it pops has no bytes or the length passes
// kept_pops_limit.
void measure_pops(const Automaton& a, std::vector<std::uint32_t>& size) {
  for (std::uint32_t v = 1; v < a.parent.size(); ++v) {
    if (is_token(a, v)) continue;
    std::uint64_t sum = size[a.parent[v]];
    for (std::uint32_t i = a.extra_begin[v]; i < a.extra_begin[v + 1] && sum <= kept_pops_limit; ++i) {
      sum += size[a.extra_pops[i]];
    }
    size[v] = sum <= kept_pops_limit ? static_cast<std::uint32_t>(sum) : no_pops;
  }
}

// Keeps the bytes of every other node that has them, while they fit in
// kept_pops_limit bytes in all, in node order; `size` becomes no_pops for
// those left out.
void keep_node_bytes(Automaton& a, std::vector<std::uint32_t>& size) {
  NodeBytes& w = a.written;
  std::size_t end = w.bytes.size();
  for (std::uint32_t v = 1; v < a.parent.size(); ++v) {
    if (is_token(a, v) || size[v] == no_pops) continue;
    if (end + size[v] > kept_pops_limit) {
      size[v] = no_pops;
      continue;
    }
    end += size[v];
  }
  w.bytes.reserve(end + copy_width);  // no node's bytes move while they are copied from
  // A node's bytes are its parent's, then its extra pops', each copied
  // whole: those nodes come before it and, their bytes being no longer than
  // its own, are kept when it is (the root writes nothing). Token by token,
  // the nodes of a long pattern of repeats would take time in the square of
  // its length.
  const auto append_pops = [&](std::uint32_t u) { w.bytes.append(w.bytes, pop_begin(w, u), pop_size(w, u)); };
  for (std::uint32_t v = 1; v < a.parent.size(); ++v) {
    if (is_token(a, v) || size[v] == no_pops) continue;
    w.pops[v] = std::uint64_t{size[v]} << 32 | w.bytes.size();
    append_pops(a.parent[v]);
    for (std::uint32_t i = a.extra_begin[v]; i < a.extra_begin[v + 1]; ++i) append_pops(a.extra_pops[i]);
  }
  w.bytes.append(copy_width, '\0');
}

// The fast walk copies pops of up to copy_width bytes; the steps that pop
// any other go by the general rule. Only the walks over lines cut first take
// the table when they write.
void make_other_pops_slow(Automaton& a, const std::vector<std::uint32_t>& size) {
  if (!walks_lines_apart(a)) return;
  const std::size_t width = std::size_t{1} << a.row_shift;
  for (std::size_t v = 0; v < a.parent.size(); ++v) {
    if (size[v] != no_pops && size[v] <= copy_width) continue;
    for (std::size_t i = 0; i < width; ++i) {
      std::uint32_t& entry = a.table[(v << a.row_shift) + i];
      if ((entry & fail_bit) != 0) entry = slow_bit;
    }
  }
}

}  // namespace

void prepare_writing(Tokenizer& t, const std::vector<std::optional<std::string>>& bytes, std::size_t trail) {
  Automaton& a = *t.automaton;
  a.written = NodeBytes{};
  a.written.trail = trail;
  a.written.pops.assign(a.parent.size(), 0);
  // `size` holds what each node's pops take, no_pops when they are not kept.
  std::vector<std::uint32_t> size(a.parent.size(), no_pops);
  keep_token_bytes(a, bytes, size);
  measure_pops(a, size);
  keep_node_bytes(a, size);
  make_other_pops_slow(a, size);
}

// Building the automaton: the trie of tokens, numbered breadth first, its
// failure links and pops, and the ids of its tokens; then the dense table,
// when it fits (dense_table.cpp). A node's pops are found from its parent's
// and from the failures below it, all of them shallower nodes, so that one
// pass in breadth-first order finds every node's.
#include "automaton.h"

#include <algorithm>
#include <utility>

namespace {

// A trie in the order its nodes were made, before it is numbered breadth first.
struct DraftTrie {
  std::vector<std::uint32_t> parent{no_node};
  std::vector<std::uint8_t> edge{0};
  std::vector<bool> is_token{false};
  std::vector<std::uint32_t> first_child{no_node};
  std::vector<std::uint32_t> next_sibling{no_node};
  std::array<std::uint32_t, 256> root_child = [] {
    std::array<std::uint32_t, 256> a{};
    a.fill(no_node);
    return a;
  }();
};

void insert_token(DraftTrie& d, std::string_view text) {
  std::uint32_t node = 0;
  for (char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    std::uint32_t next = no_node;
    if (node == 0) {
      next = d.root_child[byte];
    } else {
      for (std::uint32_t c = d.first_child[node]; c != no_node; c = d.next_sibling[c]) {
        if (d.edge[c] == byte) {
          next = c;
          break;
        }
      }
    }
    if (next == no_node) {
      next = static_cast<std::uint32_t>(d.parent.size());
      d.parent.push_back(node);
      d.edge.push_back(byte);
      d.is_token.push_back(false);
      d.first_child.push_back(no_node);
      d.next_sibling.push_back(d.first_child[node]);
      d.first_child[node] = next;
      if (node == 0) d.root_child[byte] = next;
    }
    node = next;
  }
  d.is_token[node] = true;
}

// Numbers the nodes of `d` breadth first, so that every node comes after its
// parent and after every shallower node.
void number_breadth_first(const DraftTrie& d, Automaton& a) {
  const std::size_t n = d.parent.size();
  std::vector<std::uint32_t> order;
  order.reserve(n);
  order.push_back(0);
  for (std::size_t i = 0; i < order.size(); ++i) {
    for (std::uint32_t c = d.first_child[order[i]]; c != no_node; c = d.next_sibling[c]) {
      order.push_back(c);
    }
  }
  std::vector<std::uint32_t> id(n);
  for (std::size_t i = 0; i < n; ++i) id[order[i]] = static_cast<std::uint32_t>(i);
  auto renamed = [&](std::uint32_t old) { return old == no_node ? no_node : id[old]; };
  a.parent.resize(n);
  a.edge.resize(n);
  a.token_of.assign(n, no_token);
  a.first_child.resize(n);
  a.next_sibling.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint32_t old = order[i];
    a.parent[i] = renamed(d.parent[old]);
    a.edge[i] = d.edge[old];
    if (d.is_token[old]) {
      a.token_of[i] = static_cast<std::uint32_t>(a.token_node.size());
      a.token_node.push_back(static_cast<std::uint32_t>(i));
    }
    a.first_child[i] = renamed(d.first_child[old]);
    a.next_sibling[i] = renamed(d.next_sibling[old]);
  }
  for (std::size_t b = 0; b < 256; ++b) a.root_child[b] = renamed(d.root_child[b]);
}

// Failure links and pops, breadth first. A token node pops itself and leaves
// nothing. Any other node v below parent u pops what u pops, which leaves
// fail[u]; while that node cannot go on with v's byte it pops in turn.
void link_failures(Automaton& a) {
  const std::size_t n = a.parent.size();
  a.fail.assign(n, 0);
  a.extra_begin.assign(n + 1, 0);
  a.extra_pops.clear();
  for (std::uint32_t v = 1; v < n; ++v) {
    a.extra_begin[v] = static_cast<std::uint32_t>(a.extra_pops.size());
    if (is_token(a, v)) continue;
    // v is at least two deep: every node one deep is a valid byte, a token.
    // The root has a child for every valid byte, so the loop ends there.
    std::uint32_t z = a.fail[a.parent[v]];
    for (;;) {
      const std::uint32_t next = child_of(a, z, a.edge[v]);
      if (next != no_node) {
        a.fail[v] = next;
        break;
      }
      a.extra_pops.push_back(z);
      z = a.fail[z];
    }
  }
  a.extra_begin[n] = static_cast<std::uint32_t>(a.extra_pops.size());
}

}  // namespace

Tokenizer::Tokenizer() = default;
Tokenizer::Tokenizer(std::unique_ptr<Automaton> built) : automaton(std::move(built)) {}
Tokenizer::Tokenizer(const Tokenizer& other)
    : automaton(other.automaton ? std::make_unique<Automaton>(*other.automaton) : nullptr) {}
Tokenizer& Tokenizer::operator=(const Tokenizer& other) {
  if (this != &other) automaton = other.automaton ? std::make_unique<Automaton>(*other.automaton) : nullptr;
  return *this;
}
Tokenizer::Tokenizer(Tokenizer&&) noexcept = default;
Tokenizer& Tokenizer::operator=(Tokenizer&&) noexcept = default;
Tokenizer::~Tokenizer() = default;

Tokenizer build_tokenizer(const PatternList& valid, const PatternList& recurrent, const PatternList& start,
                          TokenizerWalk walk) {
  const ByteSet valid_bytes = valid_byte_set(valid);
  DraftTrie draft;
  for (std::size_t b = 0; b < 256; ++b) {
    if (valid_bytes[b]) insert_token(draft, std::string(1, static_cast<char>(b)));
  }
  for (const std::string& pattern : recurrent) {
    if (check_string(pattern, valid_bytes)) insert_token(draft, pattern);
  }
  auto a = std::make_unique<Automaton>();
  a->start = build_start_matcher(start);
  number_breadth_first(draft, *a);
  draft = DraftTrie{};
  link_failures(*a);
  // The first walk that applies and whose table fits.
  const bool built = walk == TokenizerWalk::lines_in_table && build_dense_table(*a, true);
  if (!built && walk != TokenizerWalk::sparse) build_dense_table(*a, false);
  return Tokenizer(std::move(a));
}

TokenizerWalk walk_of(const Tokenizer& t) {
  const Automaton& a = *t.automaton;
  if (!a.short_table.empty()) return TokenizerWalk::lines_in_table;
  return a.table.empty() ? TokenizerWalk::sparse : TokenizerWalk::dense;
}

TokenizerSize size_of(const Tokenizer& t) {
  const Automaton& a = *t.automaton;
  return {a.parent.size(),
          a.table.size() * sizeof(std::uint32_t) + a.short_table.size() * sizeof(std::uint16_t)};
}

std::string text_of(const Automaton& a, std::uint32_t node) {
  std::string text;
  for (; node != 0; node = a.parent[node]) text += static_cast<char>(a.edge[node]);
  std::reverse(text.begin(), text.end());
  return text;
}

std::uint32_t token_count(const Tokenizer& t) {
  return static_cast<std::uint32_t>(t.automaton->token_node.size());
}

std::string token_text(const Tokenizer& t, std::uint32_t token) {
  return text_of(*t.automaton, t.automaton->token_node[token]);
}

std::string_view without_start_pattern(const Tokenizer& t, std::string_view trimmed) {
  return trimmed.substr(start_pattern_length(t.automaton->start, trimmed));
}

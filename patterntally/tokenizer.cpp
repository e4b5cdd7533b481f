#include "tokenizer.h"

#include <algorithm>

namespace {

// The child of `node` on `byte`, or no_node.
std::uint32_t child_of(const Tokenizer& t, std::uint32_t node, unsigned char byte) {
  if (!t.table.empty()) {
    const std::uint32_t entry = t.table[(std::size_t{node} << t.row_shift) + t.byte_class[byte]];
    return (entry & (fail_bit | slow_bit)) != 0 ? no_node : entry >> t.row_shift;
  }
  if (node == 0) return t.root_child[byte];
  for (std::uint32_t c = t.first_child[node]; c != no_node; c = t.next_sibling[c]) {
    if (t.edge[c] == byte) return c;
  }
  return no_node;
}

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
void number_breadth_first(const DraftTrie& d, Tokenizer& t) {
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
  t.parent.resize(n);
  t.edge.resize(n);
  t.is_token.resize(n);
  t.first_child.resize(n);
  t.next_sibling.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint32_t old = order[i];
    t.parent[i] = renamed(d.parent[old]);
    t.edge[i] = d.edge[old];
    t.is_token[i] = d.is_token[old];
    t.first_child[i] = renamed(d.first_child[old]);
    t.next_sibling[i] = renamed(d.next_sibling[old]);
  }
  for (std::size_t b = 0; b < 256; ++b) t.root_child[b] = renamed(d.root_child[b]);
}

// Failure links and pops, breadth first. A token node pops itself and leaves
// nothing. Any other node v below parent u pops what u pops, which leaves
// fail[u]; while that node cannot go on with v's byte it pops in turn.
void link_failures(Tokenizer& t) {
  const std::size_t n = t.parent.size();
  t.fail.assign(n, 0);
  t.extra_begin.assign(n + 1, 0);
  t.extra_pops.clear();
  for (std::size_t v = 1; v < n; ++v) {
    t.extra_begin[v] = static_cast<std::uint32_t>(t.extra_pops.size());
    if (t.is_token[v]) continue;
    // v is at least two deep: every node one deep is a valid byte, a token.
    // The root has a child for every valid byte, so the loop ends there.
    std::uint32_t z = t.fail[t.parent[v]];
    for (;;) {
      const std::uint32_t next = child_of(t, z, t.edge[v]);
      if (next != no_node) {
        t.fail[v] = next;
        break;
      }
      t.extra_pops.push_back(z);
      z = t.fail[z];
    }
  }
  t.extra_begin[n] = static_cast<std::uint32_t>(t.extra_pops.size());
}

// The dense table: children first, then for every other valid byte the step
// through fail[v] when that node has the child (one pop), else the slow loop.
// Rows are filled breadth first, so the row of fail[v] is final when read.
void build_dense_table(Tokenizer& t) {
  unsigned classes = 1;
  for (std::size_t b = 0; b < 256; ++b) {
    if (t.root_child[b] != no_node) t.byte_class[b] = static_cast<std::uint8_t>(classes++);
  }
  unsigned shift = 0;
  while ((1u << shift) < classes) ++shift;
  const std::size_t n = t.parent.size();
  const std::size_t width = std::size_t{1} << shift;
  if (n * width > dense_table_limit) return;
  t.row_shift = shift;
  t.table.assign(n * width, slow_bit);
  for (std::size_t v = 1; v < n; ++v) {
    t.table[(std::size_t{t.parent[v]} << shift) + t.byte_class[t.edge[v]]] =
        static_cast<std::uint32_t>(v << shift);
  }
  for (std::size_t v = 1; v < n; ++v) {
    std::uint32_t* row = &t.table[v << shift];
    const std::uint32_t* fail_row = &t.table[std::size_t{t.fail[v]} << shift];
    for (std::size_t c = 1; c < classes; ++c) {
      if (row[c] != slow_bit) continue;
      if ((fail_row[c] & (fail_bit | slow_bit)) == 0) row[c] = fail_bit | fail_row[c];
    }
  }
  // The table answers every child lookup now.
  t.first_child = {};
  t.next_sibling = {};
}

std::string text_of(const Tokenizer& t, std::uint32_t node) {
  std::string text;
  for (; node != 0; node = t.parent[node]) text += static_cast<char>(t.edge[node]);
  std::reverse(text.begin(), text.end());
  return text;
}

void report_invalid_byte(unsigned char byte, const LineContext& context) {
  std::string message = "- Invalid character \"";
  message += static_cast<char>(byte);
  message += "\" in line ";
  message += std::to_string(context.line_number);
  message += " (\"";
  message += context.trimmed_line;
  message += "\") in file \"websites.txt\": IGNORING CHARACTER\n";
  write_output(*context.messages, message);
}

}  // namespace

Tokenizer build_tokenizer(const PatternList& valid, const PatternList& recurrent,
                          bool allow_dense) {
  const ByteSet valid_bytes = valid_byte_set(valid);
  DraftTrie draft;
  for (std::size_t b = 0; b < 256; ++b) {
    if (valid_bytes[b]) insert_token(draft, std::string(1, static_cast<char>(b)));
  }
  for (const std::string& pattern : recurrent) {
    if (check_string(pattern, valid_bytes)) insert_token(draft, pattern);
  }
  Tokenizer t;
  number_breadth_first(draft, t);
  draft = DraftTrie{};
  link_failures(t);
  if (allow_dense) build_dense_table(t);
  t.pop_count.assign(t.parent.size(), 0);
  t.end_count.assign(t.parent.size(), 0);
  return t;
}

std::uint32_t step_slowly(Tokenizer& t, std::uint32_t node, unsigned char byte,
                          const LineContext& context) {
  for (;;) {
    const std::uint32_t next = child_of(t, node, byte);
    if (next != no_node) return next;
    if (node == 0) {
      report_invalid_byte(byte, context);
      return 0;
    }
    ++t.pop_count[node];
    node = t.fail[node];
  }
}

std::vector<std::pair<std::string, std::uint64_t>> take_token_counts(Tokenizer& t) {
  // Deepest first: every node hands its counts to shallower nodes only.
  std::vector<std::pair<std::string, std::uint64_t>> counts;
  for (std::size_t v = t.parent.size(); v-- > 1;) {
    // A text that ended on v pops v, then ends on fail[v].
    t.pop_count[v] += t.end_count[v];
    t.end_count[t.fail[v]] += t.end_count[v];
    t.end_count[v] = 0;
    const std::uint64_t pops = t.pop_count[v];
    t.pop_count[v] = 0;
    if (pops == 0) continue;
    if (t.is_token[v]) {
      counts.emplace_back(text_of(t, static_cast<std::uint32_t>(v)), pops);
    } else {
      t.pop_count[t.parent[v]] += pops;
      for (std::uint32_t i = t.extra_begin[v]; i < t.extra_begin[v + 1]; ++i) {
        t.pop_count[t.extra_pops[i]] += pops;
      }
    }
  }
  t.pop_count[0] = 0;
  t.end_count[0] = 0;
  return counts;
}

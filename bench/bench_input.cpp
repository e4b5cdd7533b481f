#include "bench_input.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>

#include "output.h"
#include "start_patterns.h"
#include "trim.h"

namespace {

constexpr std::size_t min_corpus_bytes = std::size_t{8} << 20;
constexpr std::size_t max_corpus_bytes = std::size_t{16} << 20;

std::string env_or(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}

std::string read_file(const std::string& name, std::size_t limit) {
  std::ifstream in(name, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "tokenizer_bench: cannot read \"%s\"\n", name.c_str());
    std::exit(1);
  }
  std::string bytes(limit, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(limit));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return bytes;
}

// Points `buffer.lines` at the lines of `buffer.bytes`, which ends in a line
// feed.
void index_lines(LineBuffer& buffer) {
  buffer.lines.clear();
  buffer.line_bytes = 0;
  std::size_t begin = 0;
  for (std::size_t lf = buffer.bytes.find('\n'); lf != std::string::npos;
       lf = buffer.bytes.find('\n', begin)) {
    buffer.lines.emplace_back(buffer.bytes.data() + begin, lf - begin);
    buffer.line_bytes += lf - begin;
    begin = lf + 1;
  }
}

PatternList read_set_file(const std::string& name, const PatternList& valid) {
  Output messages = memory_output();
  return read_strings_from_file(name, valid, messages);
}

std::size_t file_size(const std::string& name) {
  std::ifstream in(name, std::ios::binary | std::ios::ate);
  return in ? static_cast<std::size_t>(in.tellg()) : 0;
}

}  // namespace

const DefinitionSet& definition_set(const std::string& name) {
  static std::map<std::string, DefinitionSet> sets;
  auto [it, added] = sets.try_emplace(name);
  if (!added) return it->second;
  const std::string dir = env_or("TOKENIZER_BENCH_DEFS", BENCH_DEFS_DIR) + "/" + name + "/";
  DefinitionSet& set = it->second;
  set.valid = read_set_file(dir + "patterns_valid_chars.txt", {});
  if (set.valid.empty()) {
    std::fprintf(stderr, "tokenizer_bench: no valid bytes in \"%s\"\n", dir.c_str());
    std::exit(1);
  }
  set.recurrent = read_set_file(dir + "patterns_recurrent.txt", set.valid);
  set.start = read_set_file(dir + "patterns_start.txt", set.valid);
  for (const char* file : {"patterns_valid_chars.txt", "patterns_recurrent.txt", "patterns_start.txt"}) {
    set.file_bytes += file_size(dir + file);
  }
  return set;
}

const LineBuffer& corpus_lines() {
  static const LineBuffer buffer = [] {
    LineBuffer b;
    const std::string text =
        read_file(env_or("TOKENIZER_BENCH_CORPUS", BENCH_EXAMPLE_CORPUS), max_corpus_bytes);
    const std::size_t whole = text.rfind('\n') + 1;  // whole lines only; 0 when none
    if (whole == 0) {
      std::fprintf(stderr, "tokenizer_bench: the corpus holds no whole line\n");
      std::exit(1);
    }
    while (b.bytes.size() < min_corpus_bytes) b.bytes.append(text, 0, whole);
    index_lines(b);
    return b;
  }();
  return buffer;
}

LineBuffer tokenizer_view(const LineBuffer& raw, const DefinitionSet& set) {
  const StartMatcher start = build_start_matcher(set.start);
  LineBuffer view;
  view.bytes.reserve(raw.bytes.size());
  for (std::string_view line : raw.lines) {
    line = trim_view(line);
    view.bytes.append(line.substr(start_pattern_length(start, line)));
    view.bytes.push_back('\n');
  }
  index_lines(view);
  return view;
}

const LineBuffer& adversarial_lines() {
  static const LineBuffer buffer = [] {
    LineBuffer b;
    std::mt19937 rng(1);
    std::uniform_int_distribution<std::size_t> length(2000, 8000);
    while (b.bytes.size() < min_corpus_bytes) {
      b.bytes.append(length(rng), 'a');
      b.bytes.push_back('\n');
    }
    index_lines(b);
    return b;
  }();
  return buffer;
}

LineBuffer ranked_lines(std::size_t count) {
  static constexpr std::string_view alphabet = "abcdefghijklmnopqrstuvwxyz0123456789.-";
  LineBuffer b;
  std::mt19937_64 rng(count);
  std::uniform_int_distribution<std::size_t> extra(0, 10);
  for (std::size_t i = 0; i < count; ++i) {
    // The index in base 38 makes the line distinct; random letters pad it.
    b.bytes.push_back('<');
    std::size_t n = i;
    std::size_t length = 0;
    do {
      b.bytes.push_back(alphabet[n % alphabet.size()]);
      n /= alphabet.size();
      ++length;
    } while (n != 0);
    b.bytes.push_back('|');  // ends the index, so that padding keeps lines distinct
    for (std::size_t k = extra(rng); k > 0 && length < 12; --k, ++length) {
      b.bytes.push_back(alphabet[rng() % alphabet.size()]);
    }
    b.bytes.append(">\n");
  }
  index_lines(b);
  return b;
}

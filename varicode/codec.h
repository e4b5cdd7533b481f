// varicode: puts the code map to use. It encodes websites into their code
// words and decodes them back, and tells what the websites of a corpus cost
// in bits.
//
// A website is split into tokens exactly as patterntally counts it: trimmed,
// its longest start pattern removed (start patterns are not coded), greedy
// longest match, an invalid byte skipped. Its code is the code words of its
// tokens joined by "00". Code words begin and end with '1' and never hold
// "00", so "00" can only stand between two of them, and every line decodes on
// its own.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "code_words.h"
#include "file_names.h"
#include "hash_table.h"
#include "tokenizer.h"

// Strings kept one after the other in one buffer, with where each ends: a
// code map of a million entries takes the bytes of its strings and eight
// more a string, not a string object and an allocation each.
class StringList {
 public:
  StringList() = default;
  StringList(std::initializer_list<std::string_view> strings) {
    for (const std::string_view string : strings) push_back(string);
  }
  void reserve(std::size_t strings, std::size_t bytes) {
    ends_.reserve(strings);
    bytes_.reserve(bytes);
  }
  void push_back(std::string_view string) {
    bytes_ += string;
    ends_.push_back(bytes_.size());
  }
  std::size_t size() const { return ends_.size(); }
  bool empty() const { return ends_.empty(); }
  std::string_view operator[](std::size_t i) const {
    const std::size_t begin = i == 0 ? 0 : ends_[i - 1];
    return {bytes_.data() + begin, ends_[i] - begin};
  }
  // The bytes of all the strings, one after the other.
  std::string_view bytes() const { return bytes_; }

 private:
  std::string bytes_;
  std::vector<std::size_t> ends_;
};

// The code map as read, in its order: the pattern (without its brackets) of
// each code word. A pattern or code word that stands twice keeps its first
// line.
struct CodeMap {
  StringList codes;
  StringList patterns;
};

// What reading a code map has seen: the values of its code words (a code
// word begins with '1', so its value tells it apart) and its patterns, by the
// top half of their hash and index + 1 in the low half. While the values come
// in increasing order, as bitladder writes them, none can stand twice: they
// are put in `codes` only once one comes out of order, those of the map and
// those of the lines left out for their pattern.
struct CodeMapIndex {
  HashTable<std::uint64_t> codes;
  bool in_order = true;
  std::uint64_t last = 0;               // the last value, while they increase
  std::vector<std::uint64_t> left_out;  // while they increase
  HashTable<std::uint64_t> patterns;
};

// Adds a line's code word and pattern to `map`, unless either stood before:
// a pattern or code word that stands twice keeps its first line.
void add_to_code_map(CodeMapIndex& index, CodeMap& map, std::string_view code, std::string_view pattern);

// Reads the code map `name`. False, reported, when it cannot be opened or
// its first read fails (a directory, say); a line that is not a code word, a
// space and a bracketed pattern is reported and left out (the exit status
// becomes 1).
bool read_code_map(const std::string& name, CodeMap& map);

// What a line of a code map holds, trimmed: a code word, a space and a
// bracketed pattern. False when it is not such a line.
bool read_code_map_line(std::string_view line, std::string_view& code, std::string_view& pattern);

// The code map whose file `name` holds `bytes`, read as read_code_map reads
// it, except that a line that is not a code map line is not passed over:
// returns what is wrong with the first ("NAME:N: ..."), else "".
std::string code_map_from_bytes(std::string_view name, std::string_view bytes, CodeMap& map);

// What encoding needs: the tokeniser of the definition files, made to write
// for each token its code word and the "00" that follows it when another
// does (see prepare_writing), and the length of each token's code word, 0
// when it has none. Per node of the trie the tokeniser keeps eight bytes of
// what it writes, and no text: a token's pattern is its token_text.
struct Coder {
  Tokenizer tokenizer;
  std::vector<std::uint8_t> code_size;  // per token id
};

// Builds the coder from the definition files of the working directory, read
// as patterntally reads them (their messages are patterntally's to give; one
// that cannot be read is reported, see input_unreadable).
Coder build_coder(const CodeMap& map);

// Builds the coder from definitions already read.
Coder build_coder(const CodeMap& map, const Definitions& definitions);

// Appends the code of `line`, a line as read, to `bits`, without a line feed.
// Returns false, appending nothing, when a token has no code word; what could
// not be coded goes to `uncoded` (a token without a code word, or an invalid
// byte).
bool encode_line(const Coder& coder, std::string_view line, std::string& bits,
                 std::vector<Unwritten>& uncoded);

// Encodes `lines`, whole lines that end at line feeds (the last may lack one),
// each as encode_line does, several side by side: calls `take` for runs of
// them, in order, each line's code and a line feed (see write_lines).
void encode_lines(const Coder& coder, std::string_view lines,
                  const std::function<void(const WrittenLines&)>& take);

// What decoding needs: the pattern of each code word, found by its value as a
// binary number (a code word begins with '1', so the value tells its length).
struct Decoder {
  StringList patterns;
  std::vector<std::uint32_t> short_codes;  // value -> index in patterns + 1, 0 when none
  // The longer code words: their values in increasing order, and the index
  // in patterns + 1 of each.
  std::vector<std::uint64_t> long_values;
  std::vector<std::uint32_t> long_indexes;
};

Decoder build_decoder(const CodeMap& map);
// The same, taking the patterns of `map` rather than a copy.
Decoder build_decoder(CodeMap&& map);

// The index in decoder.patterns + 1 of the code word of `size` bits whose
// value is `value`; 0 when none has it.
std::uint32_t find_code(const Decoder& decoder, std::uint64_t value, std::size_t size);

// Appends the patterns of the code words of `line` to `text`. Returns "" when
// the line is a code, else what is wrong with it, appending nothing.
std::string decode_line(const Decoder& decoder, std::string_view line, std::string& text);

// The figures of `varicode report`.
struct ReportFigures {
  std::uint64_t websites = 0;  // lines, blank ones included
  std::uint64_t tokens = 0;
  std::uint64_t skipped_bytes = 0;
  std::uint64_t bits = 0;   // of the encoded lines, "00" included
  std::uint64_t bytes = 0;  // of the trimmed lines
  std::uint64_t optimal_prefix_bits = 0;
  double entropy_bits = 0;
  std::uint64_t packed_bytes = 0;  // of the stream of encode --packed
  std::uint64_t map_bytes = 0;     // of the code map's file
  std::uint64_t map_bits = 0;      // of its code words joined by "00"
  struct Pattern {
    std::string pattern;
    std::uint64_t count = 0;
    std::uint32_t code_size = 0;
    std::uint64_t bits = 0;
  };
  std::vector<Pattern> costliest;  // most bits first
};

// The bits of an optimal prefix code (Huffman's) for symbols of these counts;
// a single symbol takes one bit each time.
std::uint64_t optimal_prefix_code_bits(std::vector<std::uint64_t> counts);

// The Shannon bound of these counts, in bits.
double entropy_bits(const std::vector<std::uint64_t>& counts);

// The report's text.
std::string format_report(const ReportFigures& figures);

// The report as one JSON document: every figure, and the costliest patterns
// as an array of objects. A pattern's bytes stand as they are where they are
// UTF-8; any other byte stands as the character of its number (\u00XX).
std::string format_report_json(const ReportFigures& figures);

// The valid-character list of bytes counted `counts`: "<c>" lines for each
// byte counted, most frequent first, lower bytes first among equal counts.
std::string valid_chars_list(const std::array<std::uint64_t, 256>& counts);

// The commands, in the working directory; each returns the exit status.
// `files` are the files to read, "-" for standard input; none reads standard
// input. encode codes each block of lines on `threads` threads, a slice each.
int run_encode(const std::vector<std::string>& files, unsigned threads = 1, const std::string& output = "",
               bool packed = false);
int run_decode(const std::vector<std::string>& files, const std::string& output = "", bool packed = false);
int run_report(const std::string& output = "", bool json = false, std::size_t top = 20);
int run_chars(const std::vector<std::string>& files, const std::string& output = "");

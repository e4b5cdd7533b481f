// Every message text of the programs, each built in one place: the messages
// on standard output about lines that were skipped, the lines on standard
// error (failures, problems, notes, usage errors) and the reasons they give.
// Which of them a run writes, and where, is decided elsewhere (output.h for
// the lines on standard error); here are only their bytes.
//
// The messages of long lines are written in pieces, so that the line is not
// copied: their builders take `put`, which is called with each piece in turn
// (as `[&](std::string_view piece) { write_output(out, piece); }`).
//
// Tested by messages_test.cpp, byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// ---- The forms of the lines on standard error.

// What could not be done with a file.
enum class Cannot { read, write, change_to_directory };

// "PROGRAM: cannot read \"NAME\": REASON\n" (write, change to directory). For
// reading and writing, an empty `file_name` stands for standard output:
// "cannot write standard output".
std::string failure_line(std::string_view program, Cannot what, std::string_view file_name,
                         std::string_view reason);

// The reason of a failure with the errno value `error`: the system's text for
// it, "unknown error" for 0.
std::string_view error_reason(int error);

// "PROGRAM: WHAT\n", written in pieces with no allocation.
template <typename Put>
void put_problem_line(Put&& put, std::string_view program, std::string_view what) {
  put(program);
  put(": ");
  put(what);
  put("\n");
}
std::string problem_line(std::string_view program, std::string_view what);

// "PROGRAM: note: WHAT\n".
std::string note_line(std::string_view program, std::string_view what);

// "PROGRAM: WHAT\nTry 'PROGRAM --help'.\n".
std::string usage_error_lines(std::string_view program, std::string_view what);

// "FILE:N: WHAT", a problem of line N of a file.
std::string line_problem(std::string_view file_name, std::uint64_t line_number, std::string_view what);

// ---- Reasons, notes and problems.

inline constexpr std::string_view out_of_memory = "out of memory";

// Why an output is refused: "it is the same file as \"NAME\"", as standard
// output, or as standard input.
std::string same_file_reason(std::string_view file_name);
inline constexpr std::string_view same_as_standard_output = "it is the same file as standard output";
inline constexpr std::string_view same_as_standard_input = "it is the same file as standard input";

inline constexpr std::string_view planted_link_reason =
    "it is a symbolic link in a sticky world-writable directory, owned by another user";

// "\"NAME\" does not exist and reads as empty".
std::string missing_file_note(std::string_view file_name);

// "DOING on N threads; no more could be started: REASON" ("1 thread").
std::string fewer_threads_note(std::string_view doing, std::size_t threads, int error);

// ---- Usage errors: what follows "PROGRAM: ".

std::string unrecognized_option(std::string_view option);    // "unrecognized option \"-x\""
std::string option_needs_argument(std::string_view option);  // "option \"-j\" needs an argument"
std::string unexpected_argument(std::string_view argument);  // "unexpected argument \"x\""
std::string invalid_thread_count(std::string_view text);     // "invalid number of threads \"x\""
std::string invalid_line_count(std::string_view text);       // "invalid number of lines \"x\""
std::string invalid_pattern_count(std::string_view text);    // "invalid number of patterns \"x\""
std::string unknown_command(std::string_view command);       // "unknown command \"x\""
std::string suggest_only_option(std::string_view option);    // "--sample is an option of suggest"
std::string option_of_commands(std::string_view option,
                               std::string_view commands);  // "--packed is an option of encode and decode"
std::string invalid_top_count(std::string_view text);       // "invalid number of patterns for --top \"x\""
inline constexpr std::string_view empty_output_name = "the output file name is empty";
inline constexpr std::string_view command_needed =
    "a command is needed: encode, decode, report, suggest or chars";
inline constexpr std::string_view pattern_count_needed = "suggest needs a number of patterns";

// ---- The definition files and the corpus, on standard output.

// Why a line of a definition file is skipped.
enum class IgnoredLine { no_start, no_end, invalid_character };

// "- No starting character \"<\" in line N (\"QUOTED\") in file \"NAME\":
// IGNORING LINE\n"; "No ending character \">\"" and "Invalid character"
// (which quotes the bracketed text only) the same way.
std::string ignored_line_message(IgnoredLine why, std::uint64_t line_number, std::string_view quoted,
                                 std::string_view file_name);

// The parts of the message of an invalid byte of the corpus, around its
// trimmed line: "- Invalid character \"B\" in line N (\"", the line, then
// "\") in file \"websites.txt\": IGNORING CHARACTER\n".
std::string invalid_byte_message_head(unsigned char byte, std::uint64_t line_number);
std::string_view invalid_byte_message_tail();

template <typename Put>
void put_invalid_byte_message(Put&& put, unsigned char byte, std::uint64_t line_number,
                              std::string_view trimmed_line) {
  put(invalid_byte_message_head(byte, line_number));
  put(trimmed_line);
  put(invalid_byte_message_tail());
}

// Where the line number of `message`, an invalid-byte message without its
// line feed, stands: message[begin, end), and its value. The number follows
// the quoted byte at a fixed place and ends at the next space.
struct MessageNumber {
  std::size_t begin = 0;
  std::size_t end = 0;
  std::uint64_t value = 0;
};
MessageNumber invalid_byte_message_number(std::string_view message);

// `message` again, with its line number moved on by `lines_before` and a line
// feed: for the cluster program, whose ranks number the lines of each chunk
// from 1. What follows the number is copied as it is.
template <typename Put>
void put_renumbered_invalid_byte_message(Put&& put, std::string_view message, std::uint64_t lines_before) {
  const MessageNumber number = invalid_byte_message_number(message);
  put(message.substr(0, number.begin));
  put(std::to_string(number.value + lines_before));
  put(message.substr(number.end));
  put("\n");
}

// ---- bitladder, on standard output.

// "More than one \"LINE\"\n", for an empty or repeated line of the ranked file.
template <typename Put>
void put_repeated_line_message(Put&& put, std::string_view line) {
  put("More than one \"");
  put(line);
  put("\"\n");
}

// "\nTOTAL NUMBER OF CODES:   N\nMAXIMUM LENGTH OF CODES: L\n".
std::string code_summary(std::uint64_t codes, std::size_t longest);

// ---- varicode's problems with a line (see line_problem).

// "no code for \"<PATTERN>\"": a token without a code word.
std::string no_code_problem(std::string_view pattern);

// "invalid character \"C\"": in a website, or in a line to decode.
std::string invalid_character_problem(std::string_view character);

// A website given to the library that is not one line.
inline constexpr std::string_view website_holds_line_feed = "a website is one line: it holds a line feed";

// A line of the code map that is not one.
inline constexpr std::string_view not_a_code_map_line = "not a code word, a space and a <pattern>";

// The lines that do not decode.
inline constexpr std::string_view begins_with_zero = "begins with \"0\"";
inline constexpr std::string_view ends_with_zero = "ends with \"0\"";
inline constexpr std::string_view holds_three_zeros = "holds \"000\"";

// "no pattern for the code word \"CODE\"", quoting a code of more than 64
// bits by its first 64, "..." and its length: "\"1011...\" (10485760 bits)".
// A code word known only to be `longer` than the 64 bits of `code` is
// quoted "\"1011...\" (more than 64 bits)".
std::string no_pattern_problem(std::string_view code, bool longer = false);

// ---- varicode suggest, on standard error.

// The problem of a sample whose bytes do not fit the numbering of its tokens.
inline constexpr std::string_view sample_too_large =
    "the sample is too large to learn from: take fewer lines with --sample";

// "sample: N of M websites\n": the lines learnt from, of those read.
std::string sample_line(std::size_t taken, std::uint64_t websites);

// "bits per website: B.BB with WHAT\n", B.BB being `bits` over `websites`
// (0.00 for none) to two places.
std::string bits_per_website_line(std::uint64_t bits, std::size_t websites, std::string_view with);

// What the bits are with: "no recurrent patterns", "FILE (N patterns)" and
// "the N patterns suggested".
inline constexpr std::string_view with_no_patterns = "no recurrent patterns";
std::string with_pattern_file(std::string_view file_name, std::size_t patterns);
std::string with_suggested(std::size_t patterns);

// ---- varicode's packed streams.

// "cannot decode \"NAME\": WHAT", "cannot decode standard input: WHAT" for
// "-".
std::string cannot_decode_problem(std::string_view file_name, std::string_view what);

// What is wrong with a packed stream.
inline constexpr std::string_view not_a_packed_stream = "not a packed stream of varicode";
inline constexpr std::string_view other_code_map = "it was made with another code map";
inline constexpr std::string_view stream_ends_early = "the stream ends early";
inline constexpr std::string_view checksum_differs = "its checksum does not match: the stream is damaged";
// "it is of format version N; this varicode reads version 1".
std::string other_version_problem(unsigned version, unsigned known);
// "its trailer counts N websites, which its body does not hold".
std::string website_count_problem(std::uint64_t counted);
// "damaged at byte N: WHAT", WHAT a zero run or no_pattern_problem.
std::string damaged_problem(std::uint64_t byte, std::string_view what);
// "a run of N zero bits".
std::string zero_run_problem(std::uint64_t zeros);

// "websites that will not decode as read: S lost a start pattern, I lost
// invalid bytes", at the end of encode.
std::string lost_websites_note(std::uint64_t lost_start, std::uint64_t lost_invalid);

// ---- patterntally-mpi.

// "rank N read other definition files than rank 0".
std::string other_definitions_problem(std::size_t rank);

// "no thread could be started (REASON): rank 0 counts and writes on its main
// thread".
std::string no_thread_problem(int error);

// Why the file that keeps a rank's messages fails.
inline constexpr std::string_view no_spool_reason =
    "no temporary file for the messages there, nor in the working directory";
inline constexpr std::string_view spool_not_emptied_reason =
    "the temporary file for the messages cannot be emptied";

// The message texts byte for byte, and the invalid-byte message read back by
// the cluster program as it was built.
#include "messages.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <utility>
#include <vector>

#include "file_names.h"

using namespace std::string_literals;

namespace {

template <typename PutAll>
std::string collected(PutAll&& put_all) {
  std::string bytes;
  put_all([&](std::string_view piece) { bytes += piece; });
  return bytes;
}

std::string invalid_byte_message(unsigned char byte, std::uint64_t line_number, std::string_view line) {
  return collected([&](auto put) { put_invalid_byte_message(put, byte, line_number, line); });
}

}  // namespace

TEST(Messages, BuildersGiveTheirBytes) {
  const std::vector<std::pair<std::string, std::string>> rows = {
      {failure_line("p", Cannot::read, "a \"b\"", "why"), "p: cannot read \"a \"b\"\": why\n"},
      {failure_line("p", Cannot::write, "", "why"), "p: cannot write standard output: why\n"},
      {failure_line("p", Cannot::change_to_directory, "", "why"),
       "p: cannot change to directory \"\": why\n"},
      {std::string(error_reason(0)), "unknown error"},
      {std::string(invalid_byte_message_tail()),
       "\") in file \""s + corpus_file + "\": IGNORING CHARACTER\n"},
      {problem_line("p", out_of_memory), "p: out of memory\n"},
      {note_line("p", missing_file_note("w.txt")), "p: note: \"w.txt\" does not exist and reads as empty\n"},
      {note_line("p", fewer_threads_note("counting", 1, EAGAIN)),
       "p: note: counting on 1 thread; no more could be started: Resource temporarily unavailable\n"},
      {fewer_threads_note("encoding", 2, EAGAIN),
       "encoding on 2 threads; no more could be started: Resource temporarily unavailable"},
      {usage_error_lines("p", unrecognized_option("-x")), "p: unrecognized option \"-x\"\nTry 'p --help'.\n"},
      {line_problem("f", 18446744073709551615u, no_code_problem("a\0b"s)),
       "f:18446744073709551615: no code for \"<a\0b>\""s},
      {same_file_reason("in"), "it is the same file as \"in\""},
      {ignored_line_message(IgnoredLine::no_start, 3, "ab>", "f"),
       "- No starting character \"<\" in line 3 (\"ab>\") in file \"f\": IGNORING LINE\n"},
      {ignored_line_message(IgnoredLine::no_end, 1, "<a", "f"),
       "- No ending character \">\" in line 1 (\"<a\") in file \"f\": IGNORING LINE\n"},
      {ignored_line_message(IgnoredLine::invalid_character, 2, "a#", "f"),
       "- Invalid character in line 2 (\"a#\") in file \"f\": IGNORING LINE\n"},
      {invalid_byte_message('\0', 7, "a\0b"s),
       "- Invalid character \"\0\" in line 7 (\"a\0b\") in file \"websites.txt\": IGNORING CHARACTER\n"s},
      {collected([](auto put) { put_repeated_line_message(put, ""); }), "More than one \"\"\n"},
      {code_summary(0, 0), "\nTOTAL NUMBER OF CODES:   0\nMAXIMUM LENGTH OF CODES: 0\n"},
      {invalid_character_problem("\n"), "invalid character \"\n\""},
      {no_pattern_problem(std::string(64, '1')),
       "no pattern for the code word \"" + std::string(64, '1') + "\""},
      {no_pattern_problem(std::string(65, '1')),
       "no pattern for the code word \"" + std::string(64, '1') + "...\" (65 bits)"},
      {other_definitions_problem(2), "rank 2 read other definition files than rank 0"},
      {no_thread_problem(EAGAIN),
       "no thread could be started (Resource temporarily unavailable): rank 0 counts and writes on its main "
       "thread"},
      {sample_line(3, 10), "sample: 3 of 10 websites\n"},
      {bits_per_website_line(0, 0, with_no_patterns), "bits per website: 0.00 with no recurrent patterns\n"},
      {bits_per_website_line(2, 3, with_pattern_file("patterns_recurrent.txt", 1)),
       "bits per website: 0.67 with patterns_recurrent.txt (1 patterns)\n"},
      {bits_per_website_line(301, 2, with_suggested(40)),
       "bits per website: 150.50 with the 40 patterns suggested\n"},
  };
  for (const auto& [built, expected] : rows) EXPECT_EQ(expected, built);
}

// Whatever the byte, the number and the quoted line (spaces, quotes and
// digits included), renumbering a message gives the message of the moved
// line.
TEST(Messages, InvalidByteMessageRenumbersAsBuilt) {
  for (const unsigned char byte : {'\0', ' ', '"', '7', '\xff'}) {
    for (const std::uint64_t number : {std::uint64_t{1}, std::uint64_t{9}, std::uint64_t{1} << 40}) {
      for (const std::string_view line : {""s, "a b"s, "\" in line 5 (\"x\") 6"s}) {
        for (const std::uint64_t before : {std::uint64_t{0}, std::uint64_t{1}, std::uint64_t{99999}}) {
          std::string message = invalid_byte_message(byte, number, line);
          message.pop_back();  // read back without its line feed
          EXPECT_EQ(invalid_byte_message(byte, number + before, line),
                    collected([&](auto put) { put_renumbered_invalid_byte_message(put, message, before); }));
        }
      }
    }
  }
}

#include "messages.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "file_names.h"

namespace {

// "\"TEXT\"".
std::string quoted(std::string_view text) {
  std::string q = "\"";
  q += text;
  q += '"';
  return q;
}

constexpr std::string_view invalid_byte_head = "- Invalid character \"";
constexpr std::string_view invalid_byte_line = "\" in line ";

// Spelled out, as a constant; messages_test holds it to corpus_file.
constexpr std::string_view invalid_byte_tail = "\") in file \"websites.txt\": IGNORING CHARACTER\n";

}  // namespace

std::string failure_line(std::string_view program, Cannot what, std::string_view file_name,
                         std::string_view reason) {
  std::string line(program);
  line += ": cannot ";
  line += what == Cannot::read ? "read" : what == Cannot::write ? "write" : "change to directory";
  if (file_name.empty() && what != Cannot::change_to_directory) {
    line += " standard output";
  } else {
    line += ' ';
    line += quoted(file_name);
  }
  line += ": ";
  line += reason;
  line += '\n';
  return line;
}

std::string_view error_reason(int error) { return error != 0 ? std::strerror(error) : "unknown error"; }

std::string problem_line(std::string_view program, std::string_view what) {
  std::string line;
  put_problem_line([&](std::string_view piece) { line += piece; }, program, what);
  return line;
}

std::string note_line(std::string_view program, std::string_view what) {
  std::string line(program);
  line += ": note: ";
  line += what;
  line += '\n';
  return line;
}

std::string usage_error_lines(std::string_view program, std::string_view what) {
  std::string lines(program);
  lines += ": ";
  lines += what;
  lines += "\nTry '";
  lines += program;
  lines += " --help'.\n";
  return lines;
}

std::string line_problem(std::string_view file_name, std::uint64_t line_number, std::string_view what) {
  std::string text(file_name);
  text += ':';
  text += std::to_string(line_number);
  text += ": ";
  text += what;
  return text;
}

std::string same_file_reason(std::string_view file_name) {
  return "it is the same file as " + quoted(file_name);
}

std::string missing_file_note(std::string_view file_name) {
  return quoted(file_name) + " does not exist and reads as empty";
}

std::string fewer_threads_note(std::string_view doing, std::size_t threads, int error) {
  std::string text(doing);
  text += " on " + std::to_string(threads) + (threads == 1 ? " thread" : " threads");
  text += "; no more could be started: ";
  text += std::strerror(error);
  return text;
}

std::string unrecognized_option(std::string_view option) { return "unrecognized option " + quoted(option); }

std::string option_needs_argument(std::string_view option) {
  return "option " + quoted(option) + " needs an argument";
}

std::string unexpected_argument(std::string_view argument) {
  return "unexpected argument " + quoted(argument);
}

std::string invalid_thread_count(std::string_view text) {
  return "invalid number of threads " + quoted(text);
}

std::string invalid_line_count(std::string_view text) { return "invalid number of lines " + quoted(text); }

std::string invalid_pattern_count(std::string_view text) {
  return "invalid number of patterns " + quoted(text);
}

std::string unknown_command(std::string_view command) { return "unknown command " + quoted(command); }

std::string suggest_only_option(std::string_view option) { return option_of_commands(option, "suggest"); }

std::string option_of_commands(std::string_view option, std::string_view commands) {
  return std::string(option) + " is an option of " + std::string(commands);
}

std::string invalid_top_count(std::string_view text) {
  return "invalid number of patterns for --top " + quoted(text);
}

std::string ignored_line_message(IgnoredLine why, std::uint64_t line_number, std::string_view quoted_text,
                                 std::string_view file_name) {
  std::string message = "- ";
  message += why == IgnoredLine::no_start ? "No starting character \"<\""
             : why == IgnoredLine::no_end ? "No ending character \">\""
                                          : "Invalid character";
  message += " in line ";
  message += std::to_string(line_number);
  message += " (\"";
  message += quoted_text;
  message += "\") in file \"";
  message += file_name;
  message += "\": IGNORING LINE\n";
  return message;
}

std::string invalid_byte_message_head(unsigned char byte, std::uint64_t line_number) {
  std::string head(invalid_byte_head);
  head += static_cast<char>(byte);
  head += invalid_byte_line;
  head += std::to_string(line_number);
  head += " (\"";
  return head;
}

std::string_view invalid_byte_message_tail() { return invalid_byte_tail; }

MessageNumber invalid_byte_message_number(std::string_view message) {
  MessageNumber number;
  number.begin = invalid_byte_head.size() + 1 + invalid_byte_line.size();
  number.end = std::min(message.find(' ', number.begin), message.size());
  for (std::size_t i = number.begin; i < number.end; ++i) {
    number.value = number.value * 10 + static_cast<std::uint64_t>(message[i] - '0');
  }
  return number;
}

std::string code_summary(std::uint64_t codes, std::size_t longest) {
  std::string summary = "\nTOTAL NUMBER OF CODES:   ";
  summary += std::to_string(codes);
  summary += "\nMAXIMUM LENGTH OF CODES: ";
  summary += std::to_string(longest);
  summary += '\n';
  return summary;
}

std::string no_code_problem(std::string_view pattern) {
  std::string text = "no code for \"<";
  text += pattern;
  text += ">\"";
  return text;
}

std::string invalid_character_problem(std::string_view character) {
  return "invalid character " + quoted(character);
}

std::string no_pattern_problem(std::string_view code, bool longer) {
  constexpr std::size_t quoted_bits = 64;
  std::string text = "no pattern for the code word ";
  if (longer)
    return text + quoted(std::string(code) + "...") + " (more than " + std::to_string(code.size()) + " bits)";
  if (code.size() <= quoted_bits) return text + quoted(code);
  return text + quoted(std::string(code.substr(0, quoted_bits)) + "...") + " (" +
         std::to_string(code.size()) + " bits)";
}

std::string cannot_decode_problem(std::string_view file_name, std::string_view what) {
  std::string text = "cannot decode ";
  text += file_name == "-" ? std::string("standard input") : quoted(file_name);
  text += ": ";
  text += what;
  return text;
}

std::string lost_websites_note(std::uint64_t lost_start, std::uint64_t lost_invalid) {
  return "websites that will not decode as read: " + std::to_string(lost_start) + " lost a start pattern, " +
         std::to_string(lost_invalid) + " lost invalid bytes";
}

std::string other_version_problem(unsigned version, unsigned known) {
  return "it is of format version " + std::to_string(version) + "; this varicode reads version " +
         std::to_string(known);
}

std::string website_count_problem(std::uint64_t counted) {
  return "its trailer counts " + std::to_string(counted) + " websites, which its body does not hold";
}

std::string damaged_problem(std::uint64_t byte, std::string_view what) {
  return "damaged at byte " + std::to_string(byte) + ": " + std::string(what);
}

std::string zero_run_problem(std::uint64_t zeros) {
  return "a run of " + std::to_string(zeros) + " zero bits";
}

std::string other_definitions_problem(std::size_t rank) {
  return "rank " + std::to_string(rank) + " read other definition files than rank 0";
}

std::string no_thread_problem(int error) {
  std::string text = "no thread could be started (";
  text += std::strerror(error);
  text += "): rank 0 counts and writes on its main thread";
  return text;
}

std::string sample_line(std::size_t taken, std::uint64_t websites) {
  return "sample: " + std::to_string(taken) + " of " + std::to_string(websites) + " websites\n";
}

std::string bits_per_website_line(std::uint64_t bits, std::size_t websites, std::string_view with) {
  char figure[64];
  std::snprintf(figure, sizeof figure, "%.2f",
                websites == 0 ? 0.0 : static_cast<double>(bits) / static_cast<double>(websites));
  std::string line = "bits per website: ";
  line += figure;
  line += " with ";
  line += with;
  line += '\n';
  return line;
}

std::string with_pattern_file(std::string_view file_name, std::size_t patterns) {
  return std::string(file_name) + " (" + std::to_string(patterns) + " patterns)";
}

std::string with_suggested(std::size_t patterns) {
  return "the " + std::to_string(patterns) + " patterns suggested";
}

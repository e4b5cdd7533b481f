// A slow, obviously correct tokeniser, written straight from the rules with
// linear searches and no automaton, for checking the real one.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct ReferenceResult {
  std::vector<std::string> tokens;  // counted tokens, in order
  std::string messages;             // invalid-character messages
};

inline bool reference_is_valid(char c, const std::vector<std::string>& valid) {
  return std::find(valid.begin(), valid.end(), std::string(1, c)) != valid.end();
}

// Tokenises one corpus line as read (before trimming), numbered `line_number`.
inline ReferenceResult reference_tokenize(const std::vector<std::string>& valid,
                                          std::vector<std::string> recurrent, std::vector<std::string> start,
                                          const std::string& raw, std::uint64_t line_number) {
  auto longest_first = [](const std::string& a, const std::string& b) { return a.size() > b.size(); };
  std::stable_sort(recurrent.begin(), recurrent.end(), longest_first);
  std::stable_sort(start.begin(), start.end(), longest_first);
  ReferenceResult result;
  std::size_t b = raw.find_first_not_of(std::string(" \t\r\n"));
  std::size_t e = raw.find_last_not_of(std::string(" \t\r\n"));
  const std::string trimmed = b == std::string::npos ? "" : raw.substr(b, e - b + 1);
  std::string line = trimmed;
  for (const std::string& s : start) {
    if (line.size() >= s.size() && line.compare(0, s.size(), s) == 0) {
      line.erase(0, s.size());
      break;
    }
  }
  while (!line.empty()) {
    std::string token(1, line[0]);
    if (!reference_is_valid(line[0], valid)) {
      result.messages += "- Invalid character \"" + token + "\" in line " + std::to_string(line_number) +
                         " (\"" + trimmed + "\") in file \"websites.txt\": IGNORING CHARACTER\n";
    } else {
      for (const std::string& r : recurrent) {
        if (line.size() >= r.size() && line.compare(0, r.size(), r) == 0) {
          token = r;
          break;
        }
      }
      result.tokens.push_back(token);
    }
    line.erase(0, token.size());
  }
  return result;
}

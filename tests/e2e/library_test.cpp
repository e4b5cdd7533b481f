// libvaricode against the varicode program: on the example, every website the
// library codes gets the program's code, text and packed, decodes to what the
// program decodes, also from many threads at once; the websites it refuses
// are those the program reports; and failures come back as statuses and
// messages.
#include <gtest/gtest.h>
#include <varicode.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> lines_of(const std::string& bytes) {
  std::vector<std::string> lines;
  std::istringstream in(bytes);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// What the library gives for one website: its text code, its packed code as
// '0' and '1', and both decoded; "!" and the message when a call fails.
std::string code_with_library(const varicode_map* map, const std::string& website) {
  varicode_error error{};
  std::string text(4096, '\0');
  std::size_t size = 0;
  if (varicode_encode_text(map, website.data(), website.size(), text.data(), text.size(), &size, &error) !=
      VARICODE_OK) {
    return std::string("!") + error.message;
  }
  text.resize(size);
  std::string packed(text.size() / 8 + 1, '\0');
  std::size_t bits = 0;
  auto* bytes = reinterpret_cast<unsigned char*>(packed.data());
  if (varicode_encode_packed(map, website.data(), website.size(), bytes, packed.size(), &bits, &error) !=
      VARICODE_OK) {
    return std::string("!") + error.message;
  }
  std::string unpacked;
  for (std::size_t i = 0; i < bits; ++i) unpacked += (bytes[i / 8] >> (7 - i % 8) & 1) != 0 ? '1' : '0';
  std::string back(4096, '\0');
  std::string back_packed(4096, '\0');
  std::size_t back_size = 0;
  std::size_t back_packed_size = 0;
  if (varicode_decode_text(map, text.data(), text.size(), back.data(), back.size(), &back_size, &error) !=
          VARICODE_OK ||
      varicode_decode_packed(map, bytes, bits, back_packed.data(), back_packed.size(), &back_packed_size,
                             &error) != VARICODE_OK) {
    return std::string("!") + error.message;
  }
  back.resize(back_size);
  back_packed.resize(back_packed_size);
  return text + " " + unpacked + " " + back + " " + back_packed;
}

}  // namespace

TEST(Library, CodesAsTheProgramDoesFromManyThreads) {
  Scratch s;
  make_scratch(s, "library");
  for (const char* name :
       {"websites.txt", "patterns_valid_chars.txt", "patterns_recurrent.txt", "patterns_start.txt"}) {
    fs::copy_file(fs::path(EXAMPLES_DIR) / name, s.dir / name);
  }
  ASSERT_EQ(0, run_in(s, patterntally, ">/dev/null").status);
  ASSERT_EQ(0, run_in(s, bitladder, ">/dev/null").status);
  const RunResult encoded = run_in(s, varicode, ">codes.txt", "", " encode websites.txt");
  ASSERT_EQ(0, run_in(s, varicode, ">decoded.txt", "", " decode codes.txt").status);
  const std::vector<std::string> websites = lines_of(get_file(s, "websites.txt"));
  const std::vector<std::string> codes = lines_of(get_file(s, "codes.txt"));
  const std::vector<std::string> decoded = lines_of(get_file(s, "decoded.txt"));
  ASSERT_EQ(websites.size(), codes.size());
  ASSERT_EQ(websites.size(), decoded.size());
  std::set<std::size_t> reported;  // lines with an invalid byte, from 1
  const std::string head = "varicode: websites.txt:";
  for (const std::string& message : lines_of(encoded.err)) {
    if (message.starts_with(head)) reported.insert(std::stoul(message.substr(head.size())));
  }
  ASSERT_FALSE(reported.empty());

  varicode_map* map = nullptr;
  varicode_error error{};
  ASSERT_EQ(VARICODE_OK, varicode_open(s.dir.c_str(), &map, &error)) << error.message;
  std::vector<std::string> expected(websites.size());
  for (std::size_t i = 0; i < websites.size(); ++i) {
    const std::string got = code_with_library(map, websites[i]);
    if (reported.count(i + 1) != 0) {
      EXPECT_EQ(0U, got.find("!varicode: invalid character ")) << websites[i];
    } else {
      EXPECT_EQ(codes[i] + " " + codes[i] + " " + decoded[i] + " " + decoded[i], got) << websites[i];
    }
    expected[i] = got;
  }
  std::vector<std::thread> threads;
  std::vector<std::size_t> differences(4);
  for (std::size_t t = 0; t < differences.size(); ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 3; ++round) {
        for (std::size_t i = t; i < websites.size(); i += 2) {
          if (code_with_library(map, websites[i]) != expected[i]) ++differences[t];
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(std::vector<std::size_t>(4, 0), differences);
  varicode_close(map);
}

TEST(Library, FailuresComeBackAsStatusesAndMessages) {
  Scratch s;
  make_scratch(s, "library-failures");
  varicode_map* map = nullptr;
  varicode_error error{};
  const std::string dir = s.dir.string();
  auto open_fails = [&](const std::string& message) {
    EXPECT_EQ(VARICODE_FAILED, varicode_open(dir.c_str(), &map, &error));
    EXPECT_EQ(nullptr, map);
    EXPECT_EQ(message, error.message);
  };
  open_fails("varicode: cannot read \"" + dir + "/map_varicodes.txt\": No such file or directory");
  fs::create_directory(s.dir / "map_varicodes.txt");
  open_fails("varicode: cannot read \"" + dir + "/map_varicodes.txt\": Is a directory");
  fs::remove(s.dir / "map_varicodes.txt");
  put_file(s, "map_varicodes.txt", "1 <a>\n11 <b>\n1001 c\n");
  open_fails("varicode: " + dir + "/map_varicodes.txt:3: not a code word, a space and a <pattern>");
  EXPECT_EQ(VARICODE_FAILED, varicode_open(dir.c_str(), nullptr, nullptr));

  // The other definition files may be missing, as for the programs.
  put_file(s, "map_varicodes.txt", "1 <a>\n11 <b>\n");
  put_file(s, "patterns_valid_chars.txt", "<a>\n<b>\n<c>\n");
  ASSERT_EQ(VARICODE_OK, varicode_open(dir.c_str(), &map, &error)) << error.message;
  std::string out(8, '\0');
  std::size_t size = 99;
  struct Row {
    std::string code;
    int status;
    std::string result;  // the decoded website, or the message
  };
  const std::vector<Row> decodes = {
      {"", VARICODE_OK, ""},
      {"10011001", VARICODE_OK, "aba"},
      {"1000011", VARICODE_FAILED, "varicode: not a code of this map: holds \"000\""},
      {"0011", VARICODE_FAILED, "varicode: not a code of this map: begins with \"0\""},
      {"10111", VARICODE_FAILED, "varicode: not a code of this map: no pattern for the code word \"10111\""},
      {"12", VARICODE_FAILED, "varicode: not a code of this map: invalid character \"2\""},
      {"1\n1", VARICODE_FAILED, "varicode: not a code of this map: invalid character \"\\x0a\""},
      {"11001100110011001100110011001100110011", VARICODE_NO_ROOM,
       "varicode: the output takes 10 bytes, more than the 8 given"},
  };
  for (const Row& row : decodes) {
    error.message[0] = '\0';
    const int status =
        varicode_decode_text(map, row.code.data(), row.code.size(), out.data(), out.size(), &size, &error);
    EXPECT_EQ(row.status, status) << row.code;
    EXPECT_EQ(row.result, status == VARICODE_OK ? out.substr(0, size) : std::string(error.message))
        << row.code;
  }
  const std::vector<Row> encodes = {
      {"abba", VARICODE_OK, "100110011001"},
      {" ab\t", VARICODE_OK, "10011"},
      {"abc", VARICODE_FAILED, "varicode: no code for \"<c>\""},
      {std::string("\0a", 2), VARICODE_FAILED, "varicode: invalid character \"\\x00\""},
      {"a\nb", VARICODE_FAILED, "varicode: a website is one line: it holds a line feed"},
  };
  std::string bits(16, '\0');
  for (const Row& row : encodes) {
    const int status =
        varicode_encode_text(map, row.code.data(), row.code.size(), bits.data(), bits.size(), &size, &error);
    EXPECT_EQ(row.status, status) << row.code;
    EXPECT_EQ(row.result, status == VARICODE_OK ? bits.substr(0, size) : std::string(error.message))
        << row.code;
  }
  // A capacity of 0 asks for the size.
  EXPECT_EQ(VARICODE_NO_ROOM, varicode_encode_text(map, "abba", 4, nullptr, 0, &size, nullptr));
  EXPECT_EQ(12U, size);
  unsigned char packed[2] = {0, 0};
  EXPECT_EQ(VARICODE_OK, varicode_encode_packed(map, "abba", 4, packed, 2, &size, &error));
  EXPECT_EQ(12U, size);
  EXPECT_EQ(0x99, packed[0]);  // 1001 1001 1001 and four filling zeros
  EXPECT_EQ(0x90, packed[1]);
  EXPECT_EQ(VARICODE_FAILED, varicode_encode_text(nullptr, "a", 1, bits.data(), bits.size(), &size, &error));
  EXPECT_EQ(VARICODE_FAILED, varicode_encode_text(map, "a", 1, nullptr, 4, &size, &error));
  EXPECT_STREQ("varicode: a capacity of 4 bytes was given without a buffer", error.message);
  varicode_close(map);
  varicode_close(nullptr);
}

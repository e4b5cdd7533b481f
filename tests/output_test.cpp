#include "output.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;

std::string names_in(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  std::string all;
  for (const std::string& name : names) all += name + " ";
  return all;
}

}  // namespace

// Two outputs closed as one, the second of which cannot take its name (its
// directory is moved away under it): the first keeps, or gets back, what it
// held, and was not created when it did not exist.
TEST(Output, PairReplacedTogetherOrNotAtAll) {
  Scratch s;
  make_scratch(s, "output");
  const fs::path base = s.dir;
  for (const bool first_existed : {true, false}) {
    for (const bool blocked : {false, true}) {
      SCOPED_TRACE(std::string(first_existed ? "first existed" : "first new") + (blocked ? ", blocked" : ""));
      fs::remove_all(base);
      fs::create_directories(base / "sub");
      if (first_existed) std::ofstream(base / "first") << "old\n";
      std::ofstream(base / "sub" / "second") << "old\n";
      Output first = create_output((base / "first").string());
      Output second = create_output((base / "sub" / "second").string());
      write_output(first, "new\n");
      write_output(second, "new\n");
      if (blocked) fs::rename(base / "sub", base / "moved");
      const std::array<Output*, 2> both = {&first, &second};
      close_outputs(both);
      EXPECT_EQ(blocked ? (first_existed ? "old\n" : "<missing>") : "new\n", get_file(s, "first"));
      EXPECT_EQ(blocked ? "old\n" : "new\n", get_file(s, blocked ? "moved/second" : "sub/second"));
      EXPECT_EQ(std::string(!blocked || first_existed ? "first " : "") + (blocked ? "moved " : "sub "),
                names_in(base));
      if (!blocked) {
        EXPECT_EQ("second ", names_in(base / "sub"));  // no temporary stays
      }
    }
  }
}

// One output, as its name leads: a new file gets the mode of a new file, an
// existing one keeps its mode, a link stays a link and the file it points to
// is replaced, and a failed write leaves the old file as it was; no temporary
// stays beside any. A device is written in place.
TEST(Output, ReplacesWhatTheNameLeadsTo) {
  Scratch s;
  make_scratch(s, "output");
  const fs::path base = s.dir;
  const auto write_file = [&](const std::string& name, fs::perms perms) {
    std::ofstream(base / name) << "old\n";
    fs::permissions(base / name, perms);
  };
  struct Row {
    std::string what;
    std::function<void()> setup;
    std::string name;   // the output's name
    bool write_fails;   // its descriptor is swapped for one that cannot write
    std::string file;   // the file that holds the output after
    std::string bytes;  // what it holds
    fs::perms perms;    // its permission bits
    std::string names;  // every name in the directory
  };
  const std::vector<Row> rows = {
      {"new file", [] {}, "out", false, "out", "new\n", fs::perms(0644), "out "},
      {"existing file", [&] { write_file("out", fs::perms(0640)); }, "out", false, "out", "new\n",
       fs::perms(0640), "out "},
      {"link",
       [&] {
         write_file("real", fs::perms(0600));
         fs::create_symlink("real", base / "link");
       },
       "link", false, "real", "new\n", fs::perms(0600), "link real "},
      {"failed write", [&] { write_file("out", fs::perms(0640)); }, "out", true, "out", "old\n",
       fs::perms(0640), "out "},
  };
  const mode_t mask = ::umask(022);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    fs::remove_all(base);
    fs::create_directories(base);
    row.setup();
    const std::string name = (base / row.name).string();
    Output out = create_output(name);
    ASSERT_FALSE(out.failed);
    write_output(out, "new\n");
    if (row.write_fails) {
      const int read_only = ::open("/dev/null", O_RDONLY);
      ::dup2(read_only, out.fd);
      ::close(read_only);
    }
    testing::internal::CaptureStderr();
    close_output(out);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(row.write_fails, out.failed);
    EXPECT_EQ(row.write_fails,
              err.find(": cannot write \"" + name + "\": Bad file descriptor\n") != std::string::npos)
        << err;
    EXPECT_EQ(row.bytes, get_file(s, row.file));
    EXPECT_EQ(row.perms, fs::status(base / row.file).permissions() & fs::perms::mask);
    EXPECT_EQ(row.names, names_in(base));
    EXPECT_EQ(row.name == "link", fs::is_symlink(base / row.name));
  }
  ::umask(mask);
  Output device = create_output("/dev/null");
  EXPECT_TRUE(device.temporary.path.empty());
  write_output(device, "new\n");
  close_output(device);
  EXPECT_FALSE(device.failed);
}

// What a new temporary clears away first: the temporaries beside it that
// killed runs left, and nothing else; and the parts of a path.
#include "replacement.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

TEST(Replacement, RemovesOnlyStaleTemporaries) {
  enum Kind { file, locked, link, directory };
  struct Row {
    std::string name;
    Kind kind;
    bool kept;
  };
  const std::string marker(temporary_marker);
  const std::vector<Row> rows = {
      {".out" + marker + "abc123", file, false},     {".out" + marker + "ABC9z0", file, false},
      {".out" + marker + "held12", locked, true},    {".out" + marker + "link12", link, true},
      {".out" + marker + "dir123", directory, true}, {".out" + marker + "abc12", file, true},
      {".out" + marker + "abc1234", file, true},     {".out" + marker + "abc-12", file, true},
      {".other" + marker + "abc123", file, false},   {"out" + marker + "abc123", file, true},
      {"." + marker + "abc123", file, true},         {".other" + marker + "held12", locked, true},
  };
  Scratch s;
  make_scratch(s, "replacement");
  std::vector<int> held;
  for (const Row& row : rows) {
    const std::filesystem::path path = s.dir / row.name;
    if (row.kind == directory) std::filesystem::create_directory(path);
    if (row.kind == link) std::filesystem::create_symlink("out", path);
    if (row.kind == file || row.kind == locked) put_file(s, row.name, "left\n");
    if (row.kind == locked) {
      held.push_back(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
      ASSERT_EQ(0, ::flock(held.back(), LOCK_EX | LOCK_NB));
    }
  }
  Temporary t;
  t.target = (s.dir / "out").string();
  int fd = -1;
  ASSERT_EQ(0, create_temporary(t, nullptr, fd));
  ::close(fd);
  remove_temporary(t);
  for (const int h : held) ::close(h);
  for (const Row& row : rows) {
    EXPECT_EQ(row.kept, std::filesystem::exists(std::filesystem::symlink_status(s.dir / row.name)))
        << row.name;
  }

  const std::vector<std::vector<std::string>> paths = {
      {"out", ".", "out"}, {"a/b", "a", "b"}, {"/out", "/", "out"}, {"/a/b/c", "/a/b", "c"}, {"a/", "a", ""}};
  for (const auto& path : paths) {
    EXPECT_EQ(path[1], directory_of(path[0])) << path[0];
    EXPECT_EQ(path[2], base_of(path[0])) << path[0];
  }
}

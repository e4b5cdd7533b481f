// Replacing a file whole or not at all. The new bytes go to a temporary file
// beside the target, hidden ("." + the target's name + `temporary_marker` +
// six random letters and digits), which is renamed over the target once it
// is complete. Until then it is locked, so that a run cleaning up the
// temporaries a killed run left behind takes it for a live one, and listed
// in a fixed table that a signal handler can read (remove_temporaries).
// Several targets are replaced together: renaming with renameat2 keeps each
// rename undoable, so that when one fails those before it are taken back.
//
// Nothing here reports: each function that can fail returns an errno value
// (0 when it went well), and the outputs (see output.h) tell of it.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

inline constexpr std::string_view temporary_marker = ".tmp-patternladder-";

// A temporary file that is to replace `target`.
struct Temporary {
  std::string path;    // "" when there is none
  std::string target;  // the file it replaces, links followed
  int slot = -1;       // where it is listed for remove_temporaries; -1 when it is not
};

// The directory part of `path`: "." when it has none, "/" for a file in the root.
std::string directory_of(const std::string& path);

// `path` without its directory.
std::string base_of(const std::string& path);

// Creates the temporary of `t.target`, locked, and opens it for writing in
// `fd`; first removes the temporaries beside it, of any target, that no live
// run holds.
// It gets the owner (as far as this user may give it) and the permission bits
// of `existing`, the file it replaces, or those of a new file when that is
// null.
int create_temporary(Temporary& t, const struct stat* existing, int& fd);

// Removes the temporary, which then replaces nothing.
void remove_temporary(Temporary& t);

// Takes the temporary off the list of remove_temporaries, once it has been
// renamed or removed.
void forget_temporary(Temporary& t);

// Renames every temporary of `temporaries` over its target, or none: when
// one fails, those before it are undone, the latest first (a file replaced
// takes its name back, a new one is removed), and `failed` is set to its
// index. The temporaries' names then hold what is to be removed. The signals
// that end the program wait meanwhile, so that none can leave one target
// replaced and another not. On success the renames are synced to disk.
int rename_together(std::span<Temporary* const> temporaries, std::size_t& failed);

// Removes every temporary that has not been renamed yet. Safe to call from a
// signal handler.
void remove_temporaries();

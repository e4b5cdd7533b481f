// Where an output name leads, and whether a run may write there. A name that
// is a symbolic link leads to the file its links point to, which is the one
// replaced; a device, a FIFO, or a link whose text leads elsewhere than the
// lookup does (/dev/stdout, /proc/self/fd/N) is written in place. An output
// must not be a file that the run reads, standard output or another output
// open now (compared by device and inode, links followed; a device such as
// /dev/null may stand for several), nor lie behind a symbolic link that
// another user may have planted in a sticky world-writable directory such as
// /tmp, which the system itself would not follow for an open when it protects
// such links.
//
// Nothing here reports: the outputs (see output.h) tell why a name is
// refused.
#pragma once

#include <sys/stat.h>

#include <string>
#include <vector>

// Where an output name leads.
struct OutputPlace {
  std::string target;     // the file written: the name with its links followed, or the name itself
  bool exists = false;    // something stands at the name
  bool in_place = false;  // written in place rather than replaced
  struct stat found {};   // what stands at the name, when it exists
  std::string canonical;  // the target as an absolute path of its directory and its name
};

// Why an output name is refused.
enum class Clash {
  none,
  error,            // the name cannot be looked up: `error` tells why
  planted_link,     // a link on the way may have been planted by another user
  input,            // the same file as the input `other`
  standard_input,   // the same file as standard input, an input named "-"
  standard_output,  // the same file as standard output
  open_output,      // the same file as the output `other`, open now
};

struct Refusal {
  Clash clash = Clash::none;
  int error = 0;      // an errno value, for Clash::error
  std::string other;  // the name of the input or output it clashes with
};

// Finds where `name` leads, and whether it may be written as an output of a
// run that reads `inputs`, where "-" stands for standard input.
Refusal place_output(const std::string& name, const std::vector<std::string>& inputs, OutputPlace& place);

// Counts the output `name`, placed at `place` and open on `fd`, among the
// outputs open now, until forget_output.
void note_open_output(const std::string& name, const OutputPlace& place, int fd);
void forget_output(const std::string& name);

// The input of `inputs` that standard output is, when it is a regular file;
// null when it is none of them.
const std::string* standard_output_among(const std::vector<std::string>& inputs);

// Whether standard output is the regular file that standard input reads.
bool standard_output_is_standard_input();

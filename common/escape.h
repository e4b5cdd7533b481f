// What a terminal is shown. A file name or a quoted input line may hold any
// byte, and the control bytes among them would move the cursor, change
// colours or ring the bell: on a terminal, standard output and standard error
// show them escaped. Files and pipes get the bytes as they are.
#pragma once

#include <string_view>

// Writes all of `bytes` to the descriptor `fd`, going on after a signal;
// returns 0, or the errno value of a failed write. Allocates nothing.
int write_fully(int fd, std::string_view bytes);

// Writes `bytes` to the descriptor `fd` with the control bytes that a
// terminal would act on, 0x00 to 0x1F but tab and line feed, and 0x7F, shown
// as "\xHH" (two lowercase hex digits); other bytes, 0x80 and up too, go as
// they are. Allocates nothing. Returns 0, or the errno value of a failed
// write.
int write_escaped(int fd, std::string_view bytes);

// Whether bytes written to the descriptor `fd`, 1 or 2, are shown as
// write_escaped shows them: it is a terminal, and keep_control_bytes was not
// called.
bool escapes_control_bytes(int fd);

// Writes control bytes as they are on a terminal too, for a program whose
// standard streams a launcher hands on: mpirun gives the ranks a
// pseudo-terminal of its own, whatever the user's output is.
void keep_control_bytes();

// How many threads a program works with by default, and starting a thread
// where the system may refuse one (a limit on processes or on address space).
// std::thread says so by throwing std::system_error, which would end these
// programs, written without exceptions, in an abort: it is caught here and
// nowhere else, and a program runs on the threads it could start, with the
// same output.
#pragma once

#include <cstddef>
#include <functional>
#include <string_view>
#include <thread>

// The number of threads a program works with by default: the cores this
// process may run on.
unsigned default_thread_count();

// Starts `body` on a new thread held by `thread`, and returns whether it
// could. When it could not, `thread` is left empty and errno tells why
// (EAGAIN, say).
bool start_thread(std::jthread& thread, std::function<void()> body);
bool start_thread(std::thread& thread, std::function<void()> body);

// Writes one line on standard error, "PROGRAM: note: DOING on N threads; no
// more could be started: REASON", where N counts the calling thread and
// `error` is an errno value. The exit status stays as it is.
void note_fewer_threads(std::string_view doing, std::size_t threads, int error);

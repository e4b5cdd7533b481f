// Sending and waiting between the ranks without spinning. MPI's own waits
// poll at full speed, and a rank that waits for another (or for rank 0 to
// write) would take a core from the ranks still counting and from mpirun,
// which carries the output; these test, then sleep a little longer each time.
#pragma once

#include <mpi.h>

#include <algorithm>
#include <chrono>
#include <thread>

// Tests `done()` until it holds, sleeping at most `longest` between tests,
// which costs little.
template <typename Done>
void wait_until(Done&& done, std::chrono::microseconds longest = std::chrono::microseconds(1000)) {
  for (auto pause = std::chrono::microseconds(10); !done();) {
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, longest);
  }
}

// Waits for `request` to complete, filling `status`.
void wait_for(MPI_Request& request, MPI_Status* status = MPI_STATUS_IGNORE);

// Sends `count` items of `type` to rank `to`, and waits until they left.
void send(const void* bytes, int count, MPI_Datatype type, int to, int tag);

// Receives `count` items of `type` from rank `from`, and waits until they came.
void receive(void* bytes, int count, MPI_Datatype type, int from, int tag,
             MPI_Status* status = MPI_STATUS_IGNORE);

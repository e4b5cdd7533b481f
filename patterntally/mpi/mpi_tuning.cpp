// Settings of the process around MPI that make a short job end sooner (see
// mpi_tuning.h): each works around a delay of Open MPI's that costs a short
// job more than its counting.
#include "mpi_tuning.h"

#include <dirent.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cstdlib>
#include <cstring>

// A job whose ranks all run on this machine needs no network between them.
// Open MPI would still probe the network transports (UCX) in MPI_Init, which
// costs about 0.2 s here, as much as counting 100 MB; its own transport over
// shared memory is chosen instead, unless the user chose one (OMPI_MCA_pml,
// also set by `mpirun --mca pml`). mpirun tells each rank the size of the
// job and how many of its ranks share the machine; other launchers and
// other MPI implementations are left as they are.
void prefer_shared_memory() {
  const char* size = std::getenv("OMPI_COMM_WORLD_SIZE");
  const char* local = std::getenv("OMPI_COMM_WORLD_LOCAL_SIZE");
  if (size != nullptr && local != nullptr && std::strcmp(size, local) == 0 &&
      std::getenv("OMPI_MCA_pml") == nullptr) {
    ::setenv("OMPI_MCA_pml", "ob1", 0);
  }
}

// The process manager's client in each rank (Open MPI's PMIx client, for
// one) talks to the daemon on its machine over a loopback TCP socket without
// TCP_NODELAY. At the end of the job it writes a few short
// requests in a row and waits for the answer to the last, which is held back
// until the daemon acknowledges the first: Linux delays that acknowledgement
// by 40 ms, which MPI_Finalize then waits out, in every rank. With
// TCP_NODELAY on the process's TCP sockets, short writes leave at once; the
// bytes sent are the same.
void send_short_writes_at_once() {
  DIR* fds = ::opendir("/proc/self/fd");
  if (fds == nullptr) return;
  while (const dirent* entry = ::readdir(fds)) {
    char* end = nullptr;
    const long fd = std::strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0' || fd == ::dirfd(fds)) continue;
    int protocol = 0;
    socklen_t size = sizeof protocol;
    if (::getsockopt(static_cast<int>(fd), SOL_SOCKET, SO_PROTOCOL, &protocol, &size) == 0 &&
        protocol == IPPROTO_TCP) {
      const int on = 1;
      ::setsockopt(static_cast<int>(fd), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
  }
  ::closedir(fds);
}

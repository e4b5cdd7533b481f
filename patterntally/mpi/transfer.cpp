// Sending and waiting between the ranks without spinning (see transfer.h).
#include "transfer.h"

void wait_for(MPI_Request& request, MPI_Status* status) {
  wait_until([&] {
    int done = 0;
    MPI_Test(&request, &done, status);
    return done != 0;
  });
}

void send(const void* bytes, int count, MPI_Datatype type, int to, int tag) {
  MPI_Request request = MPI_REQUEST_NULL;
  MPI_Isend(bytes, count, type, to, tag, MPI_COMM_WORLD, &request);
  wait_for(request);
}

void receive(void* bytes, int count, MPI_Datatype type, int from, int tag, MPI_Status* status) {
  MPI_Request request = MPI_REQUEST_NULL;
  MPI_Irecv(bytes, count, type, from, tag, MPI_COMM_WORLD, &request);
  wait_for(request, status);
}

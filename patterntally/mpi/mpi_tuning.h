// Settings of the process around MPI that make a short job end sooner; none
// changes a byte of what the ranks send or write.
#pragma once

// Before MPI_Init: when every rank of the job runs on this machine, under
// Open MPI's mpirun, and the user chose no transport, chooses Open MPI's
// transport over shared memory, which spares probing the network.
void prefer_shared_memory();

// Before MPI_Finalize: sets TCP_NODELAY on every TCP socket of the process,
// so that the short requests of the end of the job leave at once.
void send_short_writes_at_once();

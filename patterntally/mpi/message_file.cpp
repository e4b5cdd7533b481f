// The messages written by every rank into one file (see message_file.h).
#include "message_file.h"

#include <fcntl.h>
#include <mpi.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>

#include "transfer.h"

namespace {

// The errno value closest to the MPI error `code`.
int error_of(int code) {
  int kind = MPI_ERR_OTHER;
  MPI_Error_class(code, &kind);
  if (kind == MPI_ERR_NO_SPACE) return ENOSPC;
  if (kind == MPI_ERR_QUOTA) return EDQUOT;
  if (kind == MPI_ERR_ACCESS) return EACCES;
  if (kind == MPI_ERR_READ_ONLY) return EROFS;
  if (kind == MPI_ERR_NO_SUCH_FILE) return ENOENT;
  return EIO;
}

// Sums `values` entry by entry over every rank, on every rank.
void sum_on_all(std::vector<std::uint64_t>& values) {
  MPI_Request request = MPI_REQUEST_NULL;
  MPI_Iallreduce(MPI_IN_PLACE, values.data(), static_cast<int>(values.size()), MPI_UINT64_T, MPI_SUM,
                 MPI_COMM_WORLD, &request);
  wait_for(request);
}

// `bytes` written at `offset` of `file`; 0, or an errno value.
int write_at(MPI_File file, std::uint64_t offset, std::string_view bytes) {
  while (!bytes.empty()) {
    const auto size = static_cast<int>(std::min<std::size_t>(bytes.size(), piece_size));
    MPI_Status status;
    const int code =
        MPI_File_write_at(file, static_cast<MPI_Offset>(offset), bytes.data(), size, MPI_BYTE, &status);
    if (code != MPI_SUCCESS) return error_of(code);
    int written = 0;
    MPI_Get_count(&status, MPI_BYTE, &written);
    if (written <= 0) return ENOSPC;  // a write that takes nothing: the room ran out
    offset += static_cast<std::uint64_t>(written);
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
}

// Rank 0 gives the file at `path` its room on disk, `size` bytes, before any
// rank writes: a file system that is too full says so here, once, rather
// than in the middle of the ranks' writes. 0, or an errno value; a file
// system that cannot reserve room leaves it to the writes.
int reserve(const std::string& path, std::uint64_t size) {
  if (size == 0) return 0;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  int error = ::fallocate(fd, 0, 0, static_cast<off_t>(size)) == 0 ? 0 : errno;
  if (error == EOPNOTSUPP || error == ENOSYS) error = 0;
  ::close(fd);
  return error;
}

// Writes the kept chunks, each at `place[chunk]`, and syncs them; 0, or an
// errno value.
int write_chunks(const std::string& path, const KeptMessages& kept, const std::vector<std::uint64_t>& place,
                 const std::vector<std::uint64_t>& lines_before) {
  MPI_File file = MPI_FILE_NULL;
  // Each rank opens the file alone: a rank whose open fails must not keep
  // the others waiting in a collective call.
  int code = MPI_File_open(MPI_COMM_SELF, path.c_str(), MPI_MODE_WRONLY, MPI_INFO_NULL, &file);
  if (code != MPI_SUCCESS) return error_of(code);
  int error = 0;
  std::string bytes;
  for (const KeptChunk& chunk : kept.chunks) {
    std::uint64_t at = place[chunk.chunk];
    renumber_spooled(chunk.messages, lines_before[chunk.chunk], [&](std::string_view piece) {
      bytes += piece;
      if (bytes.size() < piece_size || error != 0) return;
      error = write_at(file, at, bytes);
      at += bytes.size();
      bytes.clear();
    });
    if (error == 0) error = write_at(file, at, bytes);
    bytes.clear();
    if (error != 0) break;
  }
  if (error == 0 && (code = MPI_File_sync(file)) != MPI_SUCCESS) error = error_of(code);
  if ((code = MPI_File_close(&file)) != MPI_SUCCESS && error == 0) error = error_of(code);
  return error;
}

}  // namespace

std::string share_message_file(const std::string& path) {
  std::uint64_t size = path.size();
  MPI_Request request = MPI_REQUEST_NULL;
  MPI_Ibcast(&size, 1, MPI_UINT64_T, 0, MPI_COMM_WORLD, &request);
  wait_for(request);
  std::string shared = path;
  shared.resize(size);
  if (size != 0) {
    MPI_Ibcast(shared.data(), static_cast<int>(size), MPI_CHAR, 0, MPI_COMM_WORLD, &request);
    wait_for(request);
  }
  return shared;
}

int write_message_file(const std::string& path, std::uint64_t head, const KeptMessages& kept,
                       std::uint64_t chunks) {
  // 1. The lines of every chunk, and the lines before each.
  std::vector<std::uint64_t> lines(chunks);
  for (const KeptChunk& chunk : kept.chunks) lines[chunk.chunk] = chunk.lines;
  sum_on_all(lines);
  std::vector<std::uint64_t> lines_before(chunks);
  for (std::uint64_t k = 1; k < chunks; ++k) lines_before[k] = lines_before[k - 1] + lines[k - 1];
  // 2. The size of every chunk's messages renumbered, and where each goes:
  //    after the head, the sizes of the chunks before.
  std::vector<std::uint64_t> place(chunks + 1);
  for (const KeptChunk& chunk : kept.chunks) {
    std::uint64_t size = 0;
    renumber_spooled(chunk.messages, lines_before[chunk.chunk],
                     [&size](std::string_view piece) { size += piece.size(); });
    place[chunk.chunk + 1] = size;
  }
  int rank = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  place[0] = rank == 0 ? head : 0;
  sum_on_all(place);
  for (std::uint64_t k = 1; k <= chunks; ++k) place[k] += place[k - 1];
  // 3. Rank 0 reserves the room, then each rank writes its chunks; the
  //    worst error is everyone's.
  int error = rank == 0 ? reserve(path, place[chunks]) : 0;
  MPI_Request request = MPI_REQUEST_NULL;
  MPI_Ibcast(&error, 1, MPI_INT, 0, MPI_COMM_WORLD, &request);
  wait_for(request);
  if (error != 0) return error;
  error = write_chunks(path, kept, place, lines_before);
  MPI_Iallreduce(MPI_IN_PLACE, &error, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD, &request);
  wait_for(request);
  return error;
}

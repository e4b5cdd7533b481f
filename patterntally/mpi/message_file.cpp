// The messages written by every rank into one file (see message_file.h).
#include "message_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <string_view>

#include "messages.h"
#include "output.h"
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

std::uint64_t digits(std::uint64_t n) {
  std::uint64_t count = 1;
  for (; n >= 10; n /= 10) ++count;
  return count;
}

}  // namespace

MessageNumbers numbers_of(const SpooledMessages& kept) {
  MessageNumbers messages;
  for_each_spooled_line(kept, [&messages](std::string_view message) {
    const MessageNumber number = invalid_byte_message_number(message);
    messages.numbers.push_back(static_cast<std::uint32_t>(number.value));
    messages.rest += message.size() + 1 - (number.end - number.begin);
  });
  return messages;
}

std::uint64_t renumbered_size(const MessageNumbers& messages, std::uint64_t lines_before) {
  std::uint64_t size = messages.rest;
  for (const std::uint32_t n : messages.numbers) size += digits(n + lines_before);
  return size;
}

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

MessageFile open_message_file(const std::string& path) {
  MessageFile file;
  const int code = MPI_File_open(MPI_COMM_SELF, path.c_str(), MPI_MODE_WRONLY, MPI_INFO_NULL, &file.file);
  if (code != MPI_SUCCESS) file.error = error_of(code);
  return file;
}

void write_messages_at(MessageFile& file, const SpooledMessages& kept, std::uint64_t offset,
                       std::uint64_t lines_before) {
  if (file.error != 0) return;
  renumber_spooled(kept, lines_before, [&](std::string_view piece) {
    while (file.error == 0 && !piece.empty()) {
      const auto size = static_cast<int>(std::min<std::size_t>(piece.size(), INT_MAX));
      MPI_Status status;
      const int code = MPI_File_write_at(file.file, static_cast<MPI_Offset>(offset), piece.data(), size,
                                         MPI_BYTE, &status);
      int written = 0;
      if (code == MPI_SUCCESS) MPI_Get_count(&status, MPI_BYTE, &written);
      if (code != MPI_SUCCESS) file.error = error_of(code);
      if (code == MPI_SUCCESS && written <= 0) file.error = ENOSPC;  // a write that takes nothing
      offset += static_cast<std::uint64_t>(std::max(written, 0));
      piece.remove_prefix(static_cast<std::size_t>(std::max(written, 0)));
    }
  });
}

int finish_message_file(MessageFile& file) {
  int code = MPI_SUCCESS;
  if (file.file != MPI_FILE_NULL && file.error == 0 && (code = MPI_File_sync(file.file)) != MPI_SUCCESS) {
    file.error = error_of(code);
  }
  if (file.file != MPI_FILE_NULL && (code = MPI_File_close(&file.file)) != MPI_SUCCESS && file.error == 0) {
    file.error = error_of(code);
  }
  int worst = file.error;
  MPI_Request request = MPI_REQUEST_NULL;
  MPI_Iallreduce(MPI_IN_PLACE, &worst, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD, &request);
  wait_for(request);
  return worst;
}

int reserve(int fd, std::uint64_t offset, std::uint64_t size) {
  if (size == 0) return 0;
  const int error = ::fallocate(fd, 0, static_cast<off_t>(offset), static_cast<off_t>(size)) == 0 ? 0 : errno;
  return error == EOPNOTSUPP || error == ENOSYS ? 0 : error;
}

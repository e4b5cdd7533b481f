// How the corpus is cut into chunks for the ranks (see chunk_plan.h), and
// where in a chunk its first line begins.
#include "chunk_plan.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "file_names.h"
#include "output.h"

std::uint64_t ChunkPlan::chunks() const {
  if (chunk_length == 0) return 0;
  return short_from / chunk_length + (size - short_from + short_length - 1) / short_length;
}

std::uint64_t ChunkPlan::begin(std::uint64_t k) const {
  const std::uint64_t long_chunks = short_from / chunk_length;
  if (k <= long_chunks) return k * chunk_length;
  return std::min(size, short_from + (k - long_chunks) * short_length);
}

// About sixteen chunks a rank, to even out the ranks' speeds, and no chunk too
// small for the threads of a rank to share. The last rank's share or so is cut
// into chunks of a quarter of that length, so that the ranks end at about the
// same time: the last chunk a rank takes is a short one.
ChunkPlan plan_chunks(const LineReader& corpus, int ranks, unsigned threads, bool whole) {
  struct stat st {};
  ChunkPlan plan;
  if (corpus.file == nullptr || ::fstat(::fileno(corpus.file), &st) != 0 || !S_ISREG(st.st_mode)) return plan;
  plan.size = static_cast<std::uint64_t>(st.st_size);
  if (whole) return plan;
  const std::uint64_t smallest = std::uint64_t{64} << 10 << std::min(threads - 1, 10u);
  const std::uint64_t even = plan.size / (16 * static_cast<std::uint64_t>(ranks));
  plan.chunk_length = std::clamp(even, smallest, std::max(smallest, std::uint64_t{64} << 20));
  plan.short_length = std::max(smallest, plan.chunk_length / 4);
  const std::uint64_t short_part = static_cast<std::uint64_t>(ranks) * plan.chunk_length;
  if (plan.size > short_part) {
    plan.short_from = (plan.size - short_part) / plan.chunk_length * plan.chunk_length;
  }
  return plan;
}

std::uint64_t line_start_in(int fd, std::uint64_t from, std::uint64_t to) {
  if (from == 0 || from >= to) return std::min(from, to);
  std::vector<char> bytes(std::size_t{1} << 16);
  for (std::uint64_t at = from - 1; at + 1 < to;) {  // the byte before a start is a line feed
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), to - 1 - at));
    const ssize_t got = ::pread(fd, bytes.data(), want, static_cast<off_t>(at));
    if (got < 0) {
      report_read_failure(corpus_file, errno);
      return unreadable_offset;
    }
    if (got == 0) return to;  // the file became shorter
    const void* lf = std::memchr(bytes.data(), '\n', static_cast<std::size_t>(got));
    if (lf != nullptr)
      return at + static_cast<std::uint64_t>(static_cast<const char*>(lf) - bytes.data()) + 1;
    at += static_cast<std::uint64_t>(got);
  }
  return to;
}

// How the ranks share the chunks with a message file (see protocol.h): rank
// 0 places each chunk's messages at the end of those before it once they are
// all counted, and the rank that counted the chunk writes them there.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "chunk_counting.h"
#include "messages.h"
#include "protocol.h"
#include "spool.h"
#include "thread_start.h"
#include "transfer.h"

namespace {

// A chunk counted, until rank 0 places it: the rank that counted it, its
// lines and the numbers of its messages; for rank 0's own, where its
// messages wait.
struct Counted {
  int rank = 0;
  std::uint64_t lines = 0;
  MessageNumbers numbers;
  SpooledMessages messages;
};

// Starts writing to disk what the file `fd` holds up to `end`, once more
// than this was added since the last start, so that the sync at the end
// has little left to wait for. The ranks of this machine share its pages.
constexpr std::uint64_t writeback_step = std::uint64_t{16} << 20;

// Rank 0's places: each chunk in turn, once counted, at the end of those
// before it.
struct Placer {
  std::map<std::uint64_t, Counted> counted;
  std::uint64_t next = 0;
  std::uint64_t lines_before = 0;
  std::uint64_t offset = 0;
  std::uint64_t written_back = 0;

  void place_all(MessageFile& file, int fd) {
    for (auto it = counted.find(next); it != counted.end(); it = counted.find(next)) {
      const Counted& chunk = it->second;
      const std::uint64_t size = renumbered_size(chunk.numbers, lines_before);
      if (file.error == 0) file.error = reserve(fd, offset, size);
      if (chunk.rank == 0) {
        write_messages_at(file, chunk.messages, offset, lines_before);
        release_spooled(chunk.messages);
      } else {
        const std::uint64_t place[3] = {next, file.error == 0 ? offset : no_place, lines_before};
        send(place, 3, MPI_UINT64_T, chunk.rank, place_tag);
      }
      offset += size;
      lines_before += chunk.lines;
      counted.erase(it);
      ++next;
    }
    if (offset - written_back >= writeback_step) {
      ::sync_file_range(fd, 0, static_cast<off_t>(offset), SYNC_FILE_RANGE_WRITE);
      written_back = offset;
    }
  }
};

}  // namespace

void count_chunks_on_rank_0_into_file(const ChunkPlan& plan, int ranks, LineReader& corpus,
                                      PatternCounter& counter, unsigned threads, const Output& messages,
                                      MessageFile& file, std::atomic<std::uint64_t>& written) {
  const std::uint64_t chunks = plan.chunks();
  Spool own;
  std::mutex mutex;
  std::vector<std::pair<std::uint64_t, Counted>> counted_here;  // by the counting thread, until placed
  std::atomic<std::uint64_t> next_chunk{0};
  const auto count_one = [&](std::uint64_t k, std::vector<Tokenizer>& copies) {
    const ChunkDone chunk = count_chunk(k, plan, corpus, counter, threads, own, copies);
    Counted counted{0, chunk.lines, numbers_of(chunk.messages), chunk.messages};
    written.fetch_add(chunk.bytes, std::memory_order_relaxed);
    const std::lock_guard lock(mutex);
    counted_here.emplace_back(k, std::move(counted));
  };
  const auto count = [&] {
    std::vector<Tokenizer> copies;
    for (std::uint64_t k; (k = next_chunk.fetch_add(1)) < chunks;) count_one(k, copies);
    add_token_counts(counter.tokenizer, copies, counter.frequencies);
  };
  std::thread counting_thread;
  if (!start_thread(counting_thread, count)) {  // the main thread counts between its other work
    write_error_line(problem_line(program_name(), no_thread_problem(errno)));
  }
  std::vector<Tokenizer> main_copies;
  Placer placer;
  const off_t head = ::lseek(messages.fd, 0, SEEK_END);
  placer.offset = head > 0 ? static_cast<std::uint64_t>(head) : 0;
  int asking = ranks - 1;
  std::vector<std::uint32_t> numbers;
  wait_until([&] {
    // 1. The other ranks' results, each answered with a chunk.
    for (int arrived = 1; asking > 0;) {
      MPI_Status status;
      MPI_Iprobe(MPI_ANY_SOURCE, result_tag, MPI_COMM_WORLD, &arrived, &status);
      if (arrived == 0) break;
      const int from = status.MPI_SOURCE;
      std::uint64_t result[5];  // chunk, lines, bytes covered, bytes besides numbers, numbers
      receive(result, 5, MPI_UINT64_T, from, result_tag);
      if (result[0] == no_chunk && result[1] == done_asking) {
        --asking;
        continue;
      }
      if (result[0] != no_chunk) {
        Counted counted{from, result[1], {result[3], std::vector<std::uint32_t>(result[4])}, {}};
        if (result[4] != 0) {
          receive(counted.numbers.numbers.data(), static_cast<int>(result[4]), MPI_UINT32_T, from,
                  numbers_tag);
        }
        placer.counted.emplace(result[0], std::move(counted));
        written.fetch_add(result[2], std::memory_order_relaxed);
      }
      std::uint64_t next = next_chunk.fetch_add(1);
      if (next >= chunks) next = no_chunk;
      send(&next, 1, MPI_UINT64_T, from, chunk_tag);
    }
    // 2. Rank 0's own, counted here when no thread counts them.
    if (!counting_thread.joinable()) {
      const std::uint64_t k = next_chunk.fetch_add(1);
      if (k < chunks) count_one(k, main_copies);
    }
    {
      const std::lock_guard lock(mutex);
      for (auto& [k, counted] : counted_here) placer.counted.emplace(k, std::move(counted));
      counted_here.clear();
    }
    // 3. Every chunk that can be placed now.
    placer.place_all(file, messages.fd);
    return asking == 0 && placer.next >= chunks;
  });  // a millisecond between looks: each rank asks a chunk ahead
  if (counting_thread.joinable()) {
    counting_thread.join();
  } else {
    add_token_counts(counter.tokenizer, main_copies, counter.frequencies);
  }
}

void ask_for_chunks_into_file(const ChunkPlan& plan, LineReader& corpus, PatternCounter& counter,
                              unsigned threads, MessageFile& file) {
  const std::uint64_t asking[5] = {no_chunk, 0, 0, 0, 0};
  const std::uint64_t leaving[5] = {no_chunk, done_asking, 0, 0, 0};
  if (!corpus_open_here(corpus)) {
    send(leaving, 5, MPI_UINT64_T, 0, result_tag);
    return;
  }
  Spool spool;
  std::vector<Tokenizer> copies;
  std::map<std::uint64_t, SpooledMessages> unwritten;
  // Writes the chunks rank 0 has placed, as the places come.
  const auto write_placed = [&] {
    for (;;) {
      int arrived = 0;
      MPI_Iprobe(0, place_tag, MPI_COMM_WORLD, &arrived, MPI_STATUS_IGNORE);
      if (arrived == 0) return;
      std::uint64_t place[3];  // chunk, offset, lines before
      receive(place, 3, MPI_UINT64_T, 0, place_tag);
      const auto it = unwritten.find(place[0]);
      if (it == unwritten.end()) continue;
      if (place[1] != no_place) write_messages_at(file, it->second, place[1], place[2]);
      release_spooled(it->second);
      unwritten.erase(it);
    }
  };
  send(asking, 5, MPI_UINT64_T, 0, result_tag);
  send(asking, 5, MPI_UINT64_T, 0, result_tag);
  for (int unanswered = 2;;) {
    wait_until([&] {
      write_placed();
      int arrived = 0;
      MPI_Iprobe(0, chunk_tag, MPI_COMM_WORLD, &arrived, MPI_STATUS_IGNORE);
      return arrived != 0;
    });
    std::uint64_t k = no_chunk;
    receive(&k, 1, MPI_UINT64_T, 0, chunk_tag);
    --unanswered;
    if (k == no_chunk) {  // so are the answers still to come
      for (; unanswered > 0; --unanswered) receive(&k, 1, MPI_UINT64_T, 0, chunk_tag);
      wait_until([&] {
        write_placed();
        return unwritten.empty();
      });
      send(leaving, 5, MPI_UINT64_T, 0, result_tag);
      add_token_counts(counter.tokenizer, copies, counter.frequencies);
      return;
    }
    const ChunkDone chunk = count_chunk(k, plan, corpus, counter, threads, spool, copies);
    const MessageNumbers numbers = numbers_of(chunk.messages);
    const std::uint64_t result[5] = {k, chunk.lines, chunk.bytes, numbers.rest, numbers.numbers.size()};
    send(result, 5, MPI_UINT64_T, 0, result_tag);
    ++unanswered;
    if (!numbers.numbers.empty()) {
      send(numbers.numbers.data(), static_cast<int>(numbers.numbers.size()), MPI_UINT32_T, 0, numbers_tag);
    }
    unwritten.emplace(k, chunk.messages);
  }
}

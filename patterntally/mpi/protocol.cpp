// How the ranks share the chunks of the corpus (see protocol.h): rank 0
// serves chunks and keeps the messages the others send, a ledger holds the
// chunks counted until rank 0 writes their messages in order, and the other
// ranks ask for chunks one ahead.
#include "protocol.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "chunk_counting.h"
#include "messages.h"
#include "spool.h"
#include "thread_start.h"
#include "transfer.h"

namespace {

// The chunks counted, by number, until rank 0 writes their messages.
struct Ledger {
  std::mutex mutex;
  std::condition_variable added;
  std::map<std::uint64_t, ChunkDone> done;

  void add(std::uint64_t k, const ChunkDone& chunk) {
    {
      const std::lock_guard lock(mutex);
      done.emplace(k, chunk);
    }
    added.notify_one();
  }
  ChunkDone take(std::uint64_t k) {
    std::unique_lock lock(mutex);
    added.wait(lock, [&] { return done.count(k) != 0; });
    return done.extract(k).mapped();
  }
};

// Rank 0 writes the messages of every chunk in order, as chunks are done.
void write_chunks(Ledger& ledger, std::uint64_t chunks, Output& out, std::atomic<std::uint64_t>& written) {
  std::uint64_t lines_before = 0;
  for (std::uint64_t k = 0; k < chunks; ++k) {
    const ChunkDone chunk = ledger.take(k);
    {
      const std::lock_guard lock(standard_output_lock());
      write_spooled(chunk.messages, lines_before, out);
    }
    release_spooled(chunk.messages);
    lines_before += chunk.lines;
    written.fetch_add(chunk.bytes, std::memory_order_relaxed);
  }
}

// The rank whose result arrived first; rank 0 polls less often than the
// waits for a reply, as the results come at the pace of the counting.
int next_asking_rank() {
  MPI_Status status;
  wait_until(
      [&] {
        int arrived = 0;
        MPI_Iprobe(MPI_ANY_SOURCE, result_tag, MPI_COMM_WORLD, &arrived, &status);
        return arrived != 0;
      },
      std::chrono::microseconds(200));
  return status.MPI_SOURCE;
}

// Receives the `size` bytes of messages of a chunk from rank `from` into
// `received`, and notes the chunk in `ledger`.
void receive_chunk_messages(int from, const std::uint64_t (&result)[4], Spool& received, Ledger& ledger,
                            std::vector<char>& piece) {
  const std::uint64_t offset = received.end();
  for (std::uint64_t left = result[3]; left > 0;) {
    const auto size = static_cast<int>(std::min<std::uint64_t>(piece_size, left));
    receive(piece.data(), size, MPI_CHAR, from, piece_tag);
    write_output(received.out, std::string_view(piece.data(), static_cast<std::size_t>(size)));
    left -= static_cast<std::uint64_t>(size);
  }
  // Flushed before the chunk is written; what the spool could not take
  // was reported, and is not looked for.
  const std::uint64_t size = received.end() - offset;
  ledger.add(result[0], {result[1], result[2], {received.out.fd, offset, size, received.out.name}});
}

// Rank 0, while its own threads count and write: hands chunks to the other
// ranks as they ask, and keeps what they send.
void serve_chunks(int ranks, std::atomic<std::uint64_t>& next_chunk, std::uint64_t chunks, Ledger& ledger,
                  Spool& received) {
  std::vector<char> piece(piece_size);
  for (int asking = ranks - 1; asking > 0;) {
    const int from = next_asking_rank();
    std::uint64_t result[4];  // chunk, lines, bytes covered, bytes of messages
    receive(result, 4, MPI_UINT64_T, from, result_tag);
    if (result[0] == no_chunk && result[1] == done_asking) {
      --asking;
      continue;
    }
    if (result[0] != no_chunk) receive_chunk_messages(from, result, received, ledger, piece);
    std::uint64_t next = next_chunk.fetch_add(1);
    if (next >= chunks) next = no_chunk;
    send(&next, 1, MPI_UINT64_T, from, chunk_tag);
  }
}

// Sends rank 0 the `size` bytes of messages at the start of `spool`. The
// size was promised: bytes that cannot be read go as line feeds, which rank
// 0 passes over.
void send_chunk_messages(Spool& spool, std::uint64_t size, std::vector<char>& piece) {
  for (std::uint64_t sent = 0; sent < size;) {
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(piece_size, size - sent));
    const ssize_t got = ::pread(spool.out.fd, piece.data(), want, static_cast<off_t>(sent));
    if (got != static_cast<ssize_t>(want)) {
      if (got < 0) report_read_failure(spool.out.name, errno);
      std::fill(piece.begin() + std::max<ssize_t>(got, 0), piece.begin() + static_cast<std::ptrdiff_t>(want),
                '\n');
    }
    send(piece.data(), static_cast<int>(want), MPI_CHAR, 0, piece_tag);
    sent += want;
  }
}

// Empties `spool` for the next chunk's messages; a failure is reported, and
// the spool takes no more.
void empty_spool(Spool& spool) {
  if (spool.out.fd >= 0 && (::ftruncate(spool.out.fd, 0) != 0 || ::lseek(spool.out.fd, 0, SEEK_SET) != 0)) {
    report_write_failure_reason(spool.out.name, spool_not_emptied_reason);
    spool.out.failed = true;
  }
}

}  // namespace

// A rank asks for one chunk ahead, so that it never waits for an answer while
// rank 0 is busy: its result of one chunk asks for the chunk after the next.
void ask_for_chunks(const ChunkPlan& plan, LineReader& corpus, PatternCounter& counter, unsigned threads) {
  const std::uint64_t asking[4] = {no_chunk, 0, 0, 0};
  const std::uint64_t leaving[4] = {no_chunk, done_asking, 0, 0};
  if (!corpus_open_here(corpus)) {
    send(leaving, 4, MPI_UINT64_T, 0, result_tag);
    return;
  }
  Spool spool;
  std::vector<Tokenizer> copies;
  std::vector<char> piece(piece_size);
  send(asking, 4, MPI_UINT64_T, 0, result_tag);
  send(asking, 4, MPI_UINT64_T, 0, result_tag);
  for (int unanswered = 2;;) {
    std::uint64_t k = no_chunk;
    receive(&k, 1, MPI_UINT64_T, 0, chunk_tag);
    --unanswered;
    if (k == no_chunk) {  // so are the answers still to come
      for (; unanswered > 0; --unanswered) receive(&k, 1, MPI_UINT64_T, 0, chunk_tag);
      send(leaving, 4, MPI_UINT64_T, 0, result_tag);
      add_token_counts(counter.tokenizer, copies, counter.frequencies);
      return;
    }
    empty_spool(spool);  // one chunk's messages at a time
    const ChunkDone chunk = count_chunk(k, plan, corpus, counter, threads, spool, copies);
    const std::uint64_t result[4] = {k, chunk.lines, chunk.bytes, chunk.messages.size};
    send(result, 4, MPI_UINT64_T, 0, result_tag);
    ++unanswered;
    send_chunk_messages(spool, chunk.messages.size, piece);
  }
}

void count_chunks_on_rank_0(const ChunkPlan& plan, int ranks, LineReader& corpus, PatternCounter& counter,
                            unsigned threads, Output& messages, std::atomic<std::uint64_t>& written) {
  const std::uint64_t chunks = plan.chunks();
  Spool own;
  Spool received;
  Ledger ledger;
  std::atomic<std::uint64_t> next_chunk{0};
  const auto count = [&] {
    std::vector<Tokenizer> copies;
    for (std::uint64_t k; (k = next_chunk.fetch_add(1)) < chunks;) {
      ledger.add(k, count_chunk(k, plan, corpus, counter, threads, own, copies));
    }
    add_token_counts(counter.tokenizer, copies, counter.frequencies);
  };
  const auto write = [&] { write_chunks(ledger, chunks, messages, written); };
  std::thread counting_thread;
  std::thread writing_thread;
  int error = start_thread(counting_thread, count) ? 0 : errno;
  if (error == 0 && !start_thread(writing_thread, write)) error = errno;
  // The run goes on without them, and its status is kept.
  if (error != 0) write_error_line(problem_line(program_name(), no_thread_problem(error)));
  serve_chunks(ranks, next_chunk, chunks, ledger, received);
  if (counting_thread.joinable()) {
    counting_thread.join();
  } else {
    count();
  }
  if (writing_thread.joinable()) {
    writing_thread.join();
  } else {
    write();
  }
}

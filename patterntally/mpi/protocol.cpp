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

#include "file_names.h"
#include "messages.h"
#include "spool.h"
#include "thread_start.h"
#include "transfer.h"

namespace {

// A rank's result, sent to rank 0 with the tag `result_tag`: the chunk, the
// lines it held, the bytes of the corpus it covered, the bytes of its
// messages, which follow in pieces with the tag `piece_tag`. A result without
// a chunk (`no_chunk`) asks for one more; with `done_asking` it asks for none.
// Rank 0 answers each with the chunk to count next, or `no_chunk`.
constexpr int result_tag = 1;
constexpr int piece_tag = 2;
constexpr int chunk_tag = 3;
// With a message file, a result holds a fifth number, how many line numbers
// of messages follow with the tag `numbers_tag`; its fourth is the bytes of
// its messages besides their numbers. Rank 0 sends each chunk's place (the
// chunk, the offset, the lines before it) with the tag `place_tag`, the
// offset `no_place` when nothing is to be written any more.
constexpr int numbers_tag = 4;
constexpr int place_tag = 5;
constexpr std::uint64_t no_place = UINT64_MAX;
constexpr std::uint64_t no_chunk = UINT64_MAX;
constexpr std::uint64_t done_asking = 1;

// One chunk counted: the lines it holds and where its messages are kept;
// the bytes it covers, for the progress.
struct ChunkDone {
  std::uint64_t lines = 0;
  std::uint64_t bytes = 0;
  SpooledMessages messages;
};

// Counts chunk `k`, its messages at the end of `spool`. The counts stay in
// the tokeniser and in the threads' copies of it, kept in `copies` for the
// next chunk, until add_token_counts.
ChunkDone count_chunk(std::uint64_t k, const ChunkPlan& plan, LineReader& corpus, PatternCounter& counter,
                      unsigned threads, Spool& spool, std::vector<Tokenizer>& copies) {
  ChunkDone done;
  const int fd = ::fileno(corpus.file);
  const std::uint64_t from = plan.begin(k);
  const std::uint64_t to = plan.begin(k + 1);
  const std::uint64_t begin = line_start_in(fd, from, to);
  if (begin == unreadable_offset || begin == to) return done;  // no line begins in the chunk
  const std::uint64_t end = line_start_in(fd, to, plan.size);
  if (end == unreadable_offset) return done;
  done.bytes = end - begin;
  done.messages.fd = spool.out.fd;
  done.messages.where = spool.out.name;
  done.messages.offset = spool.end();
  if (read_only(corpus, begin, end - begin)) {
    done.lines =
        count_into_table(corpus, counter.tokenizer, threads, spool.out, counter.frequencies, 1, &copies);
  } else {
    report_read_failure(corpus_file, errno);
  }
  done.messages.size = spool.end() - done.messages.offset;
  return done;
}

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
  if (corpus.file == nullptr) {  // rank 0 reads the corpus, but this rank cannot
    corpus = open_lines(corpus_file, true);
    if (corpus.file == nullptr) {
      send(leaving, 4, MPI_UINT64_T, 0, result_tag);
      return;
    }
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
  if (corpus.file == nullptr) {  // rank 0 reads the corpus, but this rank cannot
    corpus = open_lines(corpus_file, true);
    if (corpus.file == nullptr) {
      send(leaving, 5, MPI_UINT64_T, 0, result_tag);
      return;
    }
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

// patterntally-mpi: one patterntally run spread over the ranks of an MPI job
// (`mpirun -np N patterntally-mpi`, or srun), in a working directory that
// every rank sees. Every rank reads the definition files and counts chunks of
// the corpus, cut at line ends, with its threads, taking the next chunk
// whenever it is free; the counts are summed on rank 0, which alone writes
// standard output and both reports: the same bytes as patterntally in the
// same directory, for any number of ranks. Rank 0 alone opens the corpus
// first, and the run counts only when every rank read the definitions that
// rank 0 read.
#include <dirent.h>
#include <fcntl.h>
#include <linux/falloc.h>
#include <mpi.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

#include "messages.h"
#include "output.h"
#include "patterntally.h"
#include "program.h"
#include "progress.h"
#include "thread_start.h"

#ifndef PATTERNLADDER_VERSION
#error "the build passes PATTERNLADDER_VERSION, the project version"
#endif

namespace {

constexpr std::string_view about =
    "Usage: mpirun -np RANKS patterntally-mpi [-C DIR] [-j N]\n"
    "patterntally spread over the ranks of an MPI job: each rank counts a part of\n"
    "websites.txt; rank 0 writes the messages and both reports, the same bytes as\n"
    "patterntally in the same directory. Every rank must see that directory.\n"
    "\n"
    "Rank 0 shows the progress of the whole run on standard error: when that is a\n"
    "terminal, on one line redrawn in place and cleared at the end; under mpirun,\n"
    "where it seldom is, with --progress only.\n"
    "\n";

constexpr std::string_view threads_help =
    "count with N threads on each rank (default: one per\n"
    "                       core the rank may run on; 0: the default)\n";

constexpr std::string_view after =
    "Exit status: 0 when the run completed, 1 when a rank could not read or write\n"
    "a file or ran out of memory (reported on standard error), 2 for a usage error.\n"
    "\n"
    "The manual: man patterntally-mpi (man/patterntally-mpi.1 in the source tree)\n";

constexpr std::string_view version = "patterntally-mpi " PATTERNLADDER_VERSION "\n";

// The corpus is cut into chunks of `chunk_length` bytes, shorter ones at its
// end; a chunk holds the lines that begin in it. Ranks take chunks one after
// another as they come free: rank 0 from a counter of its own, the others by
// asking rank 0, so a rank that is slower, or that also writes the messages,
// counts fewer. Each chunk's messages are numbered from the chunk's first
// line; rank 0 writes them in the order of the chunks, renumbered by the lines
// of the chunks before, as soon as those are known.
constexpr int result_tag = 1;  // rank -> 0: a chunk counted (or none), another wanted; or no more
constexpr int piece_tag = 2;   // rank -> 0: the messages of that chunk, in pieces
constexpr int chunk_tag = 3;   // 0 -> rank: the chunk to count next, or `no_chunk`
constexpr std::uint64_t no_chunk = UINT64_MAX;
constexpr std::uint64_t done_asking = 1;  // with `no_chunk`: the rank asks for no more
constexpr std::size_t piece_size = std::size_t{1} << 20;

// Tests `done()` until it holds, without spinning. MPI's own waits poll at
// full speed, and a rank that waits for another (or for rank 0 to write)
// would take a core from the ranks still counting and from mpirun, which
// carries the output; a sleep of at most `longest` between tests costs little.
template <typename Done>
void wait_until(Done&& done, std::chrono::microseconds longest = std::chrono::microseconds(1000)) {
  for (auto pause = std::chrono::microseconds(10); !done();) {
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, longest);
  }
}

void wait_for(MPI_Request& request, MPI_Status* status = MPI_STATUS_IGNORE) {
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

void receive(void* bytes, int count, MPI_Datatype type, int from, int tag,
             MPI_Status* status = MPI_STATUS_IGNORE) {
  MPI_Request request = MPI_REQUEST_NULL;
  MPI_Irecv(bytes, count, type, from, tag, MPI_COMM_WORLD, &request);
  wait_for(request, status);
}

// What rank 0 decides for all: whether to count at all, the corpus's size,
// and the chunks: of `chunk_length` bytes up to `short_from`, then of
// `short_length`. No chunks (`chunk_length` 0) when the corpus is no regular
// file, which rank 0 then counts alone.
struct Plan {
  std::uint64_t count = 1;  // 0: the ranks read other definitions, and nothing is counted
  std::uint64_t size = 0;
  std::uint64_t chunk_length = 0;
  std::uint64_t short_from = 0;  // a multiple of `chunk_length`, at most `size`
  std::uint64_t short_length = 0;

  std::uint64_t chunks() const {
    if (chunk_length == 0) return 0;
    return short_from / chunk_length + (size - short_from + short_length - 1) / short_length;
  }
  // Where chunk `k` begins; `size` past the last.
  std::uint64_t begin(std::uint64_t k) const {
    const std::uint64_t long_chunks = short_from / chunk_length;
    if (k <= long_chunks) return k * chunk_length;
    return std::min(size, short_from + (k - long_chunks) * short_length);
  }
};

// About sixteen chunks a rank, to even out the ranks' speeds, and no chunk too
// small for the threads of a rank to share. The last rank's share or so is cut
// into chunks of a quarter of that length, so that the ranks end at about the
// same time: the last chunk a rank takes is a short one.
Plan plan_chunks(const LineReader& corpus, int ranks, unsigned threads) {
  struct stat st {};
  Plan plan;
  if (corpus.file == nullptr || ::fstat(::fileno(corpus.file), &st) != 0 || !S_ISREG(st.st_mode)) return plan;
  plan.size = static_cast<std::uint64_t>(st.st_size);
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

// A digest of the definition lists as read, in order: each list's length,
// then each entry's length and bytes, through 64-bit FNV-1a. Ranks that read
// the same files have the same digest; ranks that read other lists, even
// with as many entries, almost surely not.
std::uint64_t digest_of(const Definitions& d) {
  std::uint64_t digest = 0xcbf29ce484222325;
  const auto mix = [&digest](std::string_view bytes) {
    for (const char byte : bytes) {
      digest ^= static_cast<unsigned char>(byte);
      digest *= 0x100000001b3;
    }
  };
  const auto mix_length = [&mix](std::uint64_t length) {
    char bytes[8];
    for (std::size_t i = 0; i < sizeof bytes; ++i) bytes[i] = static_cast<char>(length >> (8 * i));
    mix(std::string_view(bytes, sizeof bytes));
  };
  for (const PatternList* list : {&d.valid, &d.recurrent, &d.start}) {
    mix_length(list->size());
    for (const std::string& entry : *list) {
      mix_length(entry.size());
      mix(entry);
    }
  }
  return digest;
}

// Gathers every rank's `digest` on rank 0, which reports each rank whose
// digest is not its own, and whether any rank found an input it could not
// read (that rank has said so). True on rank 0 when all agree and read what
// they read; the other ranks learn it from the plan.
bool same_definitions(std::uint64_t digest, bool unreadable, int rank, int ranks) {
  const std::uint64_t mine[2] = {digest, unreadable ? 1u : 0u};
  std::vector<std::uint64_t> all(rank == 0 ? 2 * static_cast<std::size_t>(ranks) : 0);
  MPI_Request request = MPI_REQUEST_NULL;
  MPI_Igather(mine, 2, MPI_UINT64_T, all.data(), 2, MPI_UINT64_T, 0, MPI_COMM_WORLD, &request);
  wait_for(request);
  bool same = !unreadable;
  for (std::size_t other = 1; 2 * other < all.size(); ++other) {
    if (all[2 * other + 1] != 0) same = false;
    if (all[2 * other + 1] != 0 || all[2 * other] == digest) continue;
    report_problem(other_definitions_problem(other));
    same = false;
  }
  return same;
}

// Says on standard error, after the messages so far, that rank 0 works
// without the threads it wanted; the run goes on, and its status is kept.
void note_without_threads(int error) {
  write_error_line(problem_line(program_name(), no_thread_problem(error)));
}

// The first byte in [from, to) where a line begins, reading `fd`: one that
// follows a line feed, or the first of the file. `to` when none does; `bad`
// on a read error, which is reported.
constexpr std::uint64_t bad = UINT64_MAX;
std::uint64_t line_start_in(int fd, std::uint64_t from, std::uint64_t to) {
  if (from == 0 || from >= to) return std::min(from, to);
  std::vector<char> bytes(std::size_t{1} << 16);
  for (std::uint64_t at = from - 1; at + 1 < to;) {  // the byte before a start is a line feed
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), to - 1 - at));
    const ssize_t got = ::pread(fd, bytes.data(), want, static_cast<off_t>(at));
    if (got < 0) {
      report_read_failure(corpus_file, errno);
      return bad;
    }
    if (got == 0) return to;  // the file became shorter
    const void* lf = std::memchr(bytes.data(), '\n', static_cast<std::size_t>(got));
    if (lf != nullptr)
      return at + static_cast<std::uint64_t>(static_cast<const char*>(lf) - bytes.data()) + 1;
    at += static_cast<std::uint64_t>(got);
  }
  return to;
}

// Where a chunk's messages are kept: `size` bytes from `offset` of the file
// `fd`, in the directory `where`.
struct Kept {
  int fd = -1;
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
  std::string_view where;
};

// One chunk counted: the lines it holds and where its messages are kept;
// the bytes it covers, for the progress.
struct ChunkDone {
  std::uint64_t lines = 0;
  std::uint64_t bytes = 0;
  Kept messages;
};

// A file for reading and writing in `dir` that has no name: O_TMPFILE, or,
// where the file system lacks it, a name made and removed at once. -1 when
// `dir` takes no file.
int unnamed_file(const std::string& dir) {
  const int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
  std::string name = dir;
  name += "/.patterntally-mpi-XXXXXX";
  const int named = ::mkostemp(name.data(), O_CLOEXEC);
  if (named >= 0) ::unlink(name.c_str());
  return named;
}

// A file of messages that grows at its end, without a name: in $TMPDIR, else
// in /tmp, else in the working directory, the first that takes one. Its
// failures name that directory.
struct Spool {
  Output out = memory_output();

  Spool() {
    std::vector<std::string> dirs = {"/tmp", "."};
    const char* tmpdir = std::getenv("TMPDIR");
    if (tmpdir != nullptr && *tmpdir != '\0') dirs.insert(dirs.begin(), tmpdir);
    for (const std::string& dir : dirs) {
      out.name = dir;
      out.fd = unnamed_file(dir);
      if (out.fd >= 0) return;
    }
    out.failed = true;
    out.name = dirs.front();
    report_write_failure_reason(out.name, no_spool_reason);
  }
  ~Spool() {
    if (out.fd >= 0) ::close(out.fd);
  }
  Spool(const Spool&) = delete;
  Spool& operator=(const Spool&) = delete;
  std::uint64_t end() {
    flush_output(out);
    const off_t at = out.fd >= 0 ? ::lseek(out.fd, 0, SEEK_CUR) : 0;
    return at > 0 ? static_cast<std::uint64_t>(at) : 0;
  }
};

// Counts chunk `k`, its messages at the end of `spool`. The counts stay in
// the tokeniser and in the threads' copies of it, kept in `copies` for the
// next chunk, until add_token_counts.
ChunkDone count_chunk(std::uint64_t k, const Plan& plan, LineReader& corpus, Counting& c, unsigned threads,
                      Spool& spool, std::vector<Tokenizer>& copies) {
  ChunkDone done;
  const int fd = ::fileno(corpus.file);
  const std::uint64_t from = plan.begin(k);
  const std::uint64_t to = plan.begin(k + 1);
  const std::uint64_t begin = line_start_in(fd, from, to);
  if (begin == bad || begin == to) return done;  // no line begins in the chunk
  const std::uint64_t end = line_start_in(fd, to, plan.size);
  if (end == bad) return done;
  done.bytes = end - begin;
  done.messages.fd = spool.out.fd;
  done.messages.where = spool.out.name;
  done.messages.offset = spool.end();
  if (read_only(corpus, begin, end - begin)) {
    done.lines = count_into_table(corpus, c.tokenizer, threads, spool.out, c.frequencies, 1, &copies);
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

// Writes the messages kept in `kept` to `out`, renumbered by `lines_before`.
void write_kept(const Kept& kept, std::uint64_t lines_before, Output& out) {
  std::string bytes;  // an unfinished line, then what was read after it
  for (std::uint64_t at = 0; at < kept.size;) {
    const std::size_t held = bytes.size();
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(piece_size, kept.size - at));
    bytes.resize(held + want);
    const ssize_t got = ::pread(kept.fd, bytes.data() + held, want, static_cast<off_t>(kept.offset + at));
    if (got <= 0) {
      report_read_failure(kept.where, got < 0 ? errno : EIO);
      return;
    }
    bytes.resize(held + static_cast<std::size_t>(got));
    at += static_cast<std::uint64_t>(got);
    const std::string_view text = bytes;
    std::size_t line = 0;
    for (std::size_t lf; (lf = text.find('\n', line)) != std::string_view::npos; line = lf + 1) {
      if (lf == line) continue;
      put_renumbered_invalid_byte_message([&](std::string_view piece) { write_output(out, piece); },
                                          text.substr(line, lf - line), lines_before);
    }
    bytes.erase(0, line);
  }
}

// Rank 0 writes the messages of every chunk in order, as chunks are done.
void write_chunks(Ledger& ledger, std::uint64_t chunks, Output& out, std::atomic<std::uint64_t>& written) {
  std::uint64_t lines_before = 0;
  for (std::uint64_t k = 0; k < chunks; ++k) {
    const ChunkDone chunk = ledger.take(k);
    {
      const std::lock_guard lock(standard_output_lock());
      write_kept(chunk.messages, lines_before, out);
    }
    // What is written needs no room on disk any more, where the file system
    // can give it back.
    if (chunk.messages.size != 0) {
      static_cast<void>(::fallocate(chunk.messages.fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE,
                                    static_cast<off_t>(chunk.messages.offset),
                                    static_cast<off_t>(chunk.messages.size)));
    }
    lines_before += chunk.lines;
    written.fetch_add(chunk.bytes, std::memory_order_relaxed);
  }
}

// Rank 0, while its own threads count and write: hands chunks to the other
// ranks as they ask, and keeps what they send.
void serve_chunks(int ranks, std::atomic<std::uint64_t>& next_chunk, std::uint64_t chunks, Ledger& ledger,
                  Spool& received) {
  std::vector<char> piece(piece_size);
  for (int asking = ranks - 1; asking > 0;) {
    MPI_Status status;
    wait_until(
        [&] {
          int arrived = 0;
          MPI_Iprobe(MPI_ANY_SOURCE, result_tag, MPI_COMM_WORLD, &arrived, &status);
          return arrived != 0;
        },
        std::chrono::microseconds(200));
    const int from = status.MPI_SOURCE;
    std::uint64_t result[4];  // chunk, lines, bytes covered, bytes of messages
    receive(result, 4, MPI_UINT64_T, from, result_tag);
    if (result[0] == no_chunk && result[1] == done_asking) {
      --asking;
      continue;
    }
    if (result[0] != no_chunk) {
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
    std::uint64_t next = next_chunk.fetch_add(1);
    if (next >= chunks) next = no_chunk;
    send(&next, 1, MPI_UINT64_T, from, chunk_tag);
  }
}

// The other ranks: ask rank 0 for chunks, count them, send what they found.
// A rank asks for one chunk ahead, so that it never waits for an answer while
// rank 0 is busy: its result of one chunk asks for the chunk after the next.
void ask_for_chunks(const Plan& plan, LineReader& corpus, Counting& c, unsigned threads) {
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
      add_token_counts(c.tokenizer, copies, c.frequencies);
      return;
    }
    // One chunk's messages at a time: the spool starts again.
    if (spool.out.fd >= 0 && (::ftruncate(spool.out.fd, 0) != 0 || ::lseek(spool.out.fd, 0, SEEK_SET) != 0)) {
      report_write_failure_reason(spool.out.name, spool_not_emptied_reason);
      spool.out.failed = true;
    }
    const ChunkDone chunk = count_chunk(k, plan, corpus, c, threads, spool, copies);
    const std::uint64_t result[4] = {k, chunk.lines, chunk.bytes, chunk.messages.size};
    send(result, 4, MPI_UINT64_T, 0, result_tag);
    ++unanswered;
    for (std::uint64_t sent = 0; sent < chunk.messages.size;) {
      const auto size =
          static_cast<std::size_t>(std::min<std::uint64_t>(piece_size, chunk.messages.size - sent));
      const ssize_t got = ::pread(spool.out.fd, piece.data(), size, static_cast<off_t>(sent));
      if (got != static_cast<ssize_t>(size)) {  // the size was promised: line feeds, passed over, instead
        if (got < 0) report_read_failure(spool.out.name, errno);
        std::fill(piece.begin() + std::max<ssize_t>(got, 0),
                  piece.begin() + static_cast<std::ptrdiff_t>(size), '\n');
      }
      send(piece.data(), static_cast<int>(size), MPI_CHAR, 0, piece_tag);
      sent += size;
    }
  }
}

// Rank 0 counts its chunks and writes the messages of all on two threads of
// its own, while its main thread serves the other ranks. Without them, the
// main thread counts and writes once it has served the others: with one rank,
// everything; else what they left.
void count_chunks_on_rank_0(const Plan& plan, int ranks, LineReader& corpus, Counting& c, unsigned threads,
                            Output& messages, std::atomic<std::uint64_t>& written) {
  const std::uint64_t chunks = plan.chunks();
  Spool own;
  Spool received;
  Ledger ledger;
  std::atomic<std::uint64_t> next_chunk{0};
  const auto count = [&] {
    std::vector<Tokenizer> copies;
    for (std::uint64_t k; (k = next_chunk.fetch_add(1)) < chunks;) {
      ledger.add(k, count_chunk(k, plan, corpus, c, threads, own, copies));
    }
    add_token_counts(c.tokenizer, copies, c.frequencies);
  };
  const auto write = [&] { write_chunks(ledger, chunks, messages, written); };
  std::thread counting;
  std::thread writing;
  int error = start_thread(counting, count) ? 0 : errno;
  if (error == 0 && !start_thread(writing, write)) error = errno;
  if (error != 0) note_without_threads(error);
  serve_chunks(ranks, next_chunk, chunks, ledger, received);
  if (counting.joinable()) {
    counting.join();
  } else {
    count();
  }
  if (writing.joinable()) {
    writing.join();
  } else {
    write();
  }
}

int run(int rank, int ranks, unsigned threads) {
  const bool first = rank == 0;
  Output quiet = memory_output();
  quiet.failed = true;  // drops what the other ranks would print twice
  Output& messages = first ? standard_output() : quiet;
  if (!first) hide_notes();  // rank 0 tells of a missing input
  // 1. As patterntally on rank 0: the corpus, the outputs, the definitions.
  //    The other ranks read the definitions; they open the corpus only once
  //    rank 0 has found it a regular file (a FIFO is for one reader).
  //    An input that a rank cannot read stops the run, with nothing replaced.
  LineReader corpus;
  if (first) corpus = open_lines(corpus_file);
  DefinitionFiles files = open_definition_files();
  std::optional<Output> count_report;
  std::optional<Output> ranked;
  if (first && !input_unreadable()) {
    check_standard_output(input_files);
    count_report = create_output(count_report_file, input_files);
    ranked = create_output(ranked_file, input_files);
  }
  const Definitions definitions =
      input_unreadable() ? Definitions{} : read_definition_files(messages, std::move(files));
  Counting c = make_counting(definitions);
  FrequencyTable& table = c.frequencies;

  // 2. Rank 0's plan for all, once every rank has read what it read.
  const bool same = same_definitions(digest_of(definitions), input_unreadable(), rank, ranks);
  Plan plan = first && same ? plan_chunks(corpus, ranks, threads) : Plan{};
  if (first && !same) plan.count = 0;
  std::uint64_t planned[5] = {plan.count, plan.size, plan.chunk_length, plan.short_from, plan.short_length};
  MPI_Request request = MPI_REQUEST_NULL;
  MPI_Ibcast(planned, 5, MPI_UINT64_T, 0, MPI_COMM_WORLD, &request);
  wait_for(request);
  plan = {planned[0], planned[1], planned[2], planned[3], planned[4]};
  const std::uint64_t chunks = plan.chunks();

  // 3. Count. Rank 0 counts and writes on threads of its own while it serves
  //    the others; a corpus that is no regular file it counts alone.
  if (first && plan.count != 0) {
    std::atomic<std::uint64_t> written{0};
    const std::uint64_t base = bytes_read.load();
    start_progress([&written, &plan, base, chunks, ranks](double seconds) {
      const std::uint64_t done = chunks == 0 ? bytes_read.load(std::memory_order_relaxed) - base
                                             : written.load(std::memory_order_relaxed);
      return reading_status("patterntally-mpi", done, plan.size, seconds) + " on " + std::to_string(ranks) +
             " ranks";
    });
    if (chunks == 0) {
      count_into_table(corpus, c.tokenizer, threads, messages, table);
    } else {
      count_chunks_on_rank_0(plan, ranks, corpus, c, threads, messages, written);
    }
    stop_progress();
  } else if (chunks != 0) {
    ask_for_chunks(plan, corpus, c, threads);
  }
  close_lines(corpus);

  // 4. The counts, summed on rank 0, when the ranks read the same
  //    definitions, so that each has the same patterns in the same order.
  std::vector<std::int64_t> counts;
  for (const auto& [pattern, count] : table) counts.push_back(count);
  std::vector<std::int64_t> sums(counts.size());
  if (plan.count != 0) {
    MPI_Ireduce(counts.data(), sums.data(), static_cast<int>(counts.size()), MPI_INT64_T, MPI_SUM, 0,
                MPI_COMM_WORLD, &request);
    wait_for(request);
  }
  int failed = exit_status();
  MPI_Iallreduce(MPI_IN_PLACE, &failed, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD, &request);
  wait_for(request);

  // 5. Rank 0 writes the reports, together, unless the ranks disagree or an
  //    input could not be read.
  if (first) {
    if (count_report && ranked) {
      Output* const reports[] = {&*count_report, &*ranked};
      if (plan.count != 0 && !input_unreadable()) {
        std::size_t i = 0;
        for (auto& [pattern, count] : table) count = sums[i++];
        write_ranked_reports(table, *count_report, *ranked);
        close_outputs(reports);
      } else {
        discard_output(*count_report);
        discard_output(*ranked);
      }
    }
    close_output(messages);
  }
  return std::max(failed, exit_status());
}

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

}  // namespace

int main(int argc, char** argv) {
  start_program("patterntally-mpi");
  keep_control_bytes();
  prefer_shared_memory();
  int provided = 0;  // rank 0 calls MPI from its first thread only
  MPI_Init_thread(&argc, &argv, MPI_THREAD_FUNNELED, &provided);
  int rank = 0;
  int ranks = 1;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &ranks);
  // Rank 0 answers the command line; the others read it in silence.
  const int saved[2] = {rank == 0 ? -1 : ::dup(1), rank == 0 ? -1 : ::dup(2)};
  if (rank != 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::close(null);
  }
  unsigned threads = default_thread_count();
  const std::string usage =
      usage_text({.about = about, .status_line_paragraph = false, .threads = threads_help, .after = after});
  const int ended = read_command_line(argc, argv, usage, version, {.threads = &threads});
  if (rank != 0) {
    ::dup2(saved[0], 1);
    ::dup2(saved[1], 2);
    ::close(saved[0]);
    ::close(saved[1]);
  }
  const int status = ended >= 0 ? ended : run(rank, ranks, threads);
  send_short_writes_at_once();
  MPI_Finalize();
  return status;
}

// patterntally-mpi: one patterntally run spread over the ranks of an MPI job
// (`mpirun -np N patterntally-mpi`, or srun), in a working directory that
// every rank sees. Every rank reads the definition files and counts its own
// byte range of "websites.txt", cut at line ends, with its threads; the counts
// are summed on rank 0, which alone writes standard output and both reports:
// the same bytes as patterntally in the same directory, for any number of
// ranks. Rank 0 writes its messages as it counts; the others keep theirs in a
// temporary file, numbered from their first line, and send them to rank 0 in
// rank order once the lines of the ranks before them are known.
#include <fcntl.h>
#include <mpi.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "failure.h"
#include "patterntally.h"
#include "program.h"
#include "progress.h"

#ifndef PATTERNLADDER_VERSION
#error "the build passes PATTERNLADDER_VERSION, the project version"
#endif

namespace {

constexpr std::string_view usage =
    "Usage: mpirun -np RANKS patterntally-mpi [-C DIR] [-j N]\n"
    "patterntally spread over the ranks of an MPI job: each rank counts a part of\n"
    "websites.txt; rank 0 writes the messages and both reports, the same bytes as\n"
    "patterntally in the same directory. Every rank must see that directory.\n"
    "\n"
    "Rank 0 shows the progress of the whole run on standard error: when that is a\n"
    "terminal, on one line redrawn in place and cleared at the end; under mpirun,\n"
    "where it seldom is, with --progress only.\n"
    "\n"
    "  -C, --directory=DIR  work in DIR instead of the current directory\n"
    "  -j, --threads=N      count with N threads on each rank (default: one per\n"
    "                       core the rank may run on; 0: the default)\n"
    "      --progress       show the progress also when standard error is not a\n"
    "                       terminal, one line a second\n"
    "      --no-progress    never show it\n"
    "  -h, --help           print this text and exit\n"
    "      --version        print the version and exit\n"
    "\n"
    "Exit status: 0 when the run completed, 1 when a rank could not read or write\n"
    "a file or ran out of memory (reported on standard error), 2 for a usage error.\n"
    "\n"
    "The manual: man patterntally\n";

constexpr std::string_view version = "patterntally-mpi " PATTERNLADDER_VERSION "\n";

constexpr int message_tag = 1;
constexpr std::size_t message_chunk = std::size_t{1} << 20;

// The byte where the first line at or after `offset` begins, reading `fd`;
// `size` when none does.
std::uint64_t line_start_at(int fd, std::uint64_t offset, std::uint64_t size) {
  if (offset == 0 || offset >= size) return std::min(offset, size);
  std::vector<char> bytes(std::size_t{1} << 16);
  for (std::uint64_t at = offset - 1; at < size;) {  // the byte before `offset` may end a line
    const ssize_t got = ::pread(fd, bytes.data(), bytes.size(), static_cast<off_t>(at));
    if (got <= 0) return size;
    const void* lf = std::memchr(bytes.data(), '\n', static_cast<std::size_t>(got));
    if (lf != nullptr)
      return at + static_cast<std::uint64_t>(static_cast<const char*>(lf) - bytes.data()) + 1;
    at += static_cast<std::uint64_t>(got);
  }
  return size;
}

// The invalid-character message `line` (without its line feed) with its line
// number moved on by `lines_before`. The number follows the quoted byte at a
// fixed place; what follows it is copied as it is.
void renumber(std::string_view line, std::uint64_t lines_before, std::string& out) {
  constexpr std::string_view head = "- Invalid character \"";
  constexpr std::size_t number_at = head.size() + 1 + std::string_view("\" in line ").size();
  const std::size_t number_end = line.find(' ', number_at);
  std::uint64_t number = 0;
  for (std::size_t i = number_at; i < number_end && i < line.size(); ++i) {
    number = number * 10 + static_cast<std::uint64_t>(line[i] - '0');
  }
  out.append(line.substr(0, number_at));
  out += std::to_string(number + lines_before);
  out.append(line.substr(std::min(number_end, line.size())));
  out += '\n';
}

// Sends `bytes` to rank 0 in chunks of at most `message_chunk` bytes, and
// empties it.
void send_chunks(std::string& bytes) {
  for (std::size_t at = 0; at < bytes.size(); at += message_chunk) {
    const std::size_t size = std::min(message_chunk, bytes.size() - at);
    MPI_Send(bytes.data() + at, static_cast<int>(size), MPI_CHAR, 0, message_tag, MPI_COMM_WORLD);
  }
  bytes.clear();
}

// Sends the messages kept in `spool`, renumbered, to rank 0, a chunk at a
// time, then an empty chunk.
void send_messages(std::FILE* spool, std::uint64_t lines_before) {
  std::string chunk;
  if (spool != nullptr && std::fseek(spool, 0, SEEK_SET) == 0) {
    LineReader reader;
    reader.name = "messages";
    reader.file = spool;
    std::string_view line;
    while (next_line(reader, line)) {
      renumber(line, lines_before, chunk);
      if (chunk.size() >= message_chunk) send_chunks(chunk);
    }
  }
  send_chunks(chunk);
  MPI_Send(nullptr, 0, MPI_CHAR, 0, message_tag, MPI_COMM_WORLD);
}

// Writes what rank `from` sends to `out`, up to its empty chunk.
void receive_messages(int from, Output& out) {
  std::vector<char> bytes(message_chunk);
  for (;;) {
    MPI_Status status;
    MPI_Recv(bytes.data(), static_cast<int>(bytes.size()), MPI_CHAR, from, message_tag, MPI_COMM_WORLD,
             &status);
    int size = 0;
    MPI_Get_count(&status, MPI_CHAR, &size);
    if (size == 0) return;
    write_output(out, std::string_view(bytes.data(), static_cast<std::size_t>(size)));
  }
}

int run(int rank, int ranks, unsigned threads) {
  const bool first = rank == 0;
  Output quiet = memory_output();
  quiet.failed = true;  // drops what the other ranks would print twice
  Output& messages = first ? standard_output() : quiet;
  // 1. As patterntally: the corpus, the outputs (on rank 0), the definitions.
  LineReader corpus = open_lines(corpus_file);
  std::optional<Output> count_report;
  std::optional<Output> ranked;
  if (first) {
    check_standard_output(input_files);
    count_report = create_output(count_report_file, input_files);
    ranked = create_output(ranked_file, input_files);
  }
  Counting c = read_definitions(messages);
  FrequencyTable& table = c.table;

  // 2. This rank's range, from the first line that begins in its share of the
  //    bytes; a corpus that is no regular file is counted by rank 0 alone.
  struct stat st {};
  const int fd = corpus.file != nullptr ? ::fileno(corpus.file) : -1;
  const bool split = fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  const std::uint64_t size = split ? static_cast<std::uint64_t>(st.st_size) : 0;
  const auto share = [&](int r) {
    return line_start_at(fd, size / static_cast<std::uint64_t>(ranks) * static_cast<std::uint64_t>(r), size);
  };
  const std::uint64_t begin = split ? share(rank) : 0;
  const std::uint64_t end = split ? (rank + 1 == ranks ? size : share(rank + 1)) : 0;
  if (split) {
    read_only(corpus, begin, end - begin);
  } else if (!first) {
    read_only(corpus, 0, 0);
  }

  // 3. Count; the other ranks keep their messages in a temporary file.
  std::FILE* spool = first ? nullptr : std::tmpfile();
  Output kept = memory_output();
  if (spool != nullptr) {
    kept.fd = ::fileno(spool);
  } else if (!first) {
    kept.failed = true;
    report_write_failure_reason("", "no temporary file for the messages");
  }
  Output& mine = first ? messages : kept;
  if (first) {
    // Rank 0 tells the progress of all from its own: the ranks read shares
    // of the same size at much the same speed.
    const std::uint64_t base = bytes_read.load();
    const std::uint64_t range = end - begin;
    start_progress([base, range, size, ranks](double seconds) {
      const std::uint64_t own = bytes_read.load(std::memory_order_relaxed) - base;
      const std::uint64_t all =
          range == 0 ? own
                     : static_cast<std::uint64_t>(static_cast<double>(own) * static_cast<double>(size) /
                                                  static_cast<double>(range));
      return reading_status("patterntally-mpi", all, size, seconds) + " on " + std::to_string(ranks) +
             " ranks";
    });
  }
  std::uint64_t lines = count_into_table(corpus, c.start, c.tokenizer, threads, mine, table);
  close_lines(corpus);
  stop_progress();
  std::uint64_t lines_before = 0;
  MPI_Exscan(&lines, &lines_before, 1, MPI_UINT64_T, MPI_SUM, MPI_COMM_WORLD);

  // 4. The messages, in rank order, then the counts, on rank 0.
  if (first) {
    for (int r = 1; r < ranks; ++r) receive_messages(r, messages);
  } else {
    flush_output(kept);
    send_messages(spool, lines_before);
    if (spool != nullptr) std::fclose(spool);
  }
  std::vector<std::int64_t> counts;
  for (const auto& [pattern, count] : table) counts.push_back(count);
  std::vector<std::int64_t> sums(counts.size());
  unsigned long long entries[2] = {counts.size(), ~static_cast<unsigned long long>(counts.size())};
  MPI_Allreduce(MPI_IN_PLACE, entries, 2, MPI_UNSIGNED_LONG_LONG, MPI_MAX, MPI_COMM_WORLD);
  const bool same_definitions = entries[0] == ~entries[1];  // every rank has as many entries
  if (same_definitions) {
    MPI_Reduce(counts.data(), sums.data(), static_cast<int>(counts.size()), MPI_INT64_T, MPI_SUM, 0,
               MPI_COMM_WORLD);
  } else if (first) {
    report_write_failure_reason(count_report_file, "the ranks read different definition files");
  }
  int failed = exit_status();
  MPI_Allreduce(MPI_IN_PLACE, &failed, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);

  // 5. Rank 0 writes the reports, unless the ranks disagree.
  if (first) {
    if (same_definitions) {
      std::size_t i = 0;
      for (auto& [pattern, count] : table) count = sums[i++];
      write_ranked_reports(table, *count_report, *ranked);
    } else {
      count_report->failed = ranked->failed = true;
    }
    close_output(*count_report);
    close_output(*ranked);
    close_output(messages);
  }
  return std::max(failed, exit_status());
}

}  // namespace

int main(int argc, char** argv) {
  start_program("patterntally-mpi");
  MPI_Init(&argc, &argv);
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
  const int ended = read_command_line(argc, argv, usage, version, {.threads = &threads});
  if (rank != 0) {
    ::dup2(saved[0], 1);
    ::dup2(saved[1], 2);
    ::close(saved[0]);
    ::close(saved[1]);
  }
  const int status = ended >= 0 ? ended : run(rank, ranks, threads);
  MPI_Finalize();
  return status;
}

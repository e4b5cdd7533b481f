// patterntally-mpi: one patterntally run spread over the ranks of an MPI job
// (`mpirun -np N patterntally-mpi`, or srun), in a working directory that
// every rank sees. Every rank reads the definition files and counts chunks of
// the corpus (protocol.h); the counts are summed on rank 0, which alone
// writes standard output and both reports: the same bytes as patterntally in
// the same directory, for any number of ranks. With --messages=FILE the
// messages go to FILE instead, each rank writing its own chunks' part of it
// (message_file.h); FILE and both reports are then replaced together, and
// only when every rank succeeded.
#include <fcntl.h>
#include <mpi.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <optional>
#include <string_view>
#include <vector>

#include "agreement.h"
#include "chunk_plan.h"
#include "message_file.h"
#include "messages.h"
#include "mpi_tuning.h"
#include "output.h"
#include "patterntally.h"
#include "program.h"
#include "progress.h"
#include "protocol.h"
#include "thread_start.h"
#include "transfer.h"

#ifndef PATTERNLADDER_VERSION
#error "the build passes PATTERNLADDER_VERSION, the project version"
#endif

namespace {

constexpr std::string_view about =
    "Usage: mpirun -np RANKS patterntally-mpi [-C DIR] [-j N] [--messages=FILE]\n"
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

constexpr std::string_view own_options =
    "      --messages=FILE  write the messages to FILE rather than standard output,\n"
    "                       each rank its own part; FILE and both reports are\n"
    "                       replaced only when every rank succeeded\n";

constexpr std::string_view after =
    "Exit status: 0 when the run completed, 1 when a rank could not read or write\n"
    "a file or ran out of memory (reported on standard error), 2 for a usage error.\n"
    "\n"
    "The manual: man patterntally-mpi (man/patterntally-mpi.1 in the source tree)\n";

constexpr std::string_view version = "patterntally-mpi " PATTERNLADDER_VERSION "\n";

// --messages not given: no file name holds a null byte.
const std::string no_message_file(1, '\0');

// What a rank reads before it counts: the corpus (rank 0 only), the
// definition lists, and on rank 0 the two reports and the message file,
// created.
struct RankInputs {
  LineReader corpus;
  std::optional<Output> count_report;
  std::optional<Output> ranked;
  std::optional<Output> message_file;
  Definitions definitions;
};

// Where this rank writes messages: rank 0 to the message file, if any, or
// standard output; the others to `quiet`.
Output& messages_of(RankInputs& inputs, bool first, Output& quiet) {
  if (!first) return quiet;
  return inputs.message_file ? *inputs.message_file : standard_output();
}

// As patterntally on rank 0: the corpus, the outputs, the definitions. The
// other ranks read the definitions; they open the corpus only once rank 0
// has found it a regular file (a FIFO is for one reader). An input that a
// rank cannot read stops the run, with nothing replaced.
RankInputs read_inputs(bool first, const std::string& message_file, Output& quiet) {
  RankInputs inputs;
  if (first) inputs.corpus = open_lines(corpus_file);
  DefinitionFiles files = open_definition_files();
  if (first && !input_unreadable()) {
    if (message_file == no_message_file) check_standard_output(input_files());
    inputs.count_report = create_output(count_report_file, input_files());
    inputs.ranked = create_output(ranked_file, input_files());
    if (message_file != no_message_file) inputs.message_file = create_output(message_file, input_files());
  }
  if (!input_unreadable()) {
    inputs.definitions = read_definition_files(messages_of(inputs, first, quiet), std::move(files));
  }
  return inputs;
}

// Rank 0's plan for all, once every rank has read what it read.
ChunkPlan agree_on_plan(const RankInputs& inputs, int rank, int ranks, unsigned threads) {
  const bool first = rank == 0;
  const bool same = same_definitions(inputs.definitions, input_unreadable(), rank, ranks);
  // One rank that writes the messages into a file counts the corpus as
  // patterntally does: chunks would only cost. Through standard output they
  // let mpirun carry the messages of one chunk while the next is counted.
  const bool whole = ranks == 1 && inputs.message_file.has_value();
  ChunkPlan plan = first && same ? plan_chunks(inputs.corpus, ranks, threads, whole) : ChunkPlan{};
  if (first && !same) plan.count = 0;
  return share_plan(plan);
}

// Rank 0 counts and writes on threads of its own while it serves the others,
// and shows the progress of all; a corpus that is no regular file it counts
// alone.
void count_on_rank_0(const ChunkPlan& plan, int ranks, LineReader& corpus, PatternCounter& counter,
                     unsigned threads, Output& messages, MessageFile* file) {
  const std::uint64_t chunks = plan.chunks();
  std::atomic<std::uint64_t> written{0};
  const std::uint64_t base = bytes_read.load();
  start_progress([&written, &plan, base, chunks, ranks](double seconds) {
    const std::uint64_t done = chunks == 0 ? bytes_read.load(std::memory_order_relaxed) - base
                                           : written.load(std::memory_order_relaxed);
    return reading_status("patterntally-mpi", done, plan.size, seconds) + " on " + std::to_string(ranks) +
           " ranks";
  });
  if (chunks == 0) {
    count_into_table(corpus, counter.tokenizer, threads, messages, counter.frequencies);
  } else {
    if (file != nullptr) {
      count_chunks_on_rank_0_into_file(plan, ranks, corpus, counter, threads, messages, *file, written);
    } else {
      count_chunks_on_rank_0(plan, ranks, corpus, counter, threads, messages, written);
    }
  }
  stop_progress();
}

// The counts of every rank's `table`, summed entry by entry on rank 0, when
// the ranks read the same definitions (each has the same patterns in the
// same order); empty sums elsewhere do not matter.
std::vector<std::int64_t> sum_counts(const FrequencyTable& table, const ChunkPlan& plan) {
  std::vector<std::int64_t> counts;
  for (const auto& [pattern, count] : table) counts.push_back(count);
  std::vector<std::int64_t> sums(counts.size());
  if (plan.count != 0) {
    MPI_Request request = MPI_REQUEST_NULL;
    MPI_Ireduce(counts.data(), sums.data(), static_cast<int>(counts.size()), MPI_INT64_T, MPI_SUM, 0,
                MPI_COMM_WORLD, &request);
    wait_for(request);
  }
  return sums;
}

// The worst exit status of all ranks, on every rank.
int worst_exit_status() {
  int failed = exit_status();
  MPI_Request request = MPI_REQUEST_NULL;
  MPI_Iallreduce(MPI_IN_PLACE, &failed, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD, &request);
  wait_for(request);
  return failed;
}

// The path of the file every rank writes its messages into, on every rank:
// rank 0's temporary for `file`, when it has one and the corpus is cut into
// chunks; else "", and rank 0 writes the messages to `file` itself.
std::string message_file_path(const std::optional<Output>& file, const ChunkPlan& plan) {
  const bool shared = file && !file->failed && file->fd >= 0 && !file->temporary.path.empty();
  return share_message_file(shared && plan.chunks() != 0 ? file->temporary.path : std::string());
}

// Every rank syncs and closes the message file; a write that failed on any
// rank is reported once, by rank 0 (which holds `out`), and fails the run on
// every rank. Returns the exit status of all ranks, `failed` before it.
int finish_messages(MessageFile& file, const std::optional<Output>& out, int failed) {
  const int error = finish_message_file(file);
  if (error != 0 && out) report_write_failure(out->name, error);
  return error != 0 ? 1 : failed;
}

// Rank 0 writes the reports of the summed counts, together, unless the
// ranks disagree or an input could not be read; then both are left as they
// were. A message file is replaced with them, and all three only when every
// rank succeeded (`failed` is 0).
void write_reports(RankInputs& inputs, FrequencyTable& table, const std::vector<std::int64_t>& sums,
                   const ChunkPlan& plan, int failed) {
  if (!inputs.count_report || !inputs.ranked) return;
  std::vector<Output*> outputs = {&*inputs.count_report, &*inputs.ranked};
  if (inputs.message_file) outputs.push_back(&*inputs.message_file);
  if (plan.count != 0 && !input_unreadable() && (!inputs.message_file || failed == 0)) {
    std::size_t i = 0;
    for (auto& [pattern, count] : table) count = sums[i++];
    write_ranked_reports(table, *inputs.count_report, *inputs.ranked);
    close_outputs(outputs);
  } else {
    for (Output* out : outputs) discard_output(*out);
  }
}

// The whole run on this rank; returns its exit status, the worst of all
// ranks' or its own.
int run(int rank, int ranks, unsigned threads, const std::string& message_file) {
  const bool first = rank == 0;
  Output quiet = memory_output();
  quiet.failed = true;       // drops what the other ranks would print twice
  if (!first) hide_notes();  // rank 0 tells of a missing input
  // 1. Read the inputs, 2. agree on the plan (and on the message file),
  // 3. count, 4. sum the counts, 5. write the messages and the reports.
  RankInputs inputs = read_inputs(first, message_file, quiet);
  Output& messages = messages_of(inputs, first, quiet);
  const ChunkPlan plan = agree_on_plan(inputs, rank, ranks, threads);
  PatternCounter counter = make_pattern_counter(std::move(inputs.definitions));
  // The head of the message file, before the chunks: a failure to write it
  // leaves the messages to rank 0, which drops them.
  if (inputs.message_file) flush_output(*inputs.message_file);
  const std::string path =
      message_file == no_message_file ? "" : message_file_path(inputs.message_file, plan);
  std::optional<MessageFile> file;
  if (!path.empty()) file = open_message_file(path);
  MessageFile* const into = file ? &*file : nullptr;
  if (first && plan.count != 0) {
    count_on_rank_0(plan, ranks, inputs.corpus, counter, threads, messages, into);
  } else if (plan.chunks() != 0 && into != nullptr) {
    ask_for_chunks_into_file(plan, inputs.corpus, counter, threads, *into);
  } else if (plan.chunks() != 0) {
    ask_for_chunks(plan, inputs.corpus, counter, threads);
  }
  close_lines(inputs.corpus);
  const std::vector<std::int64_t> sums = sum_counts(counter.frequencies, plan);
  int failed = worst_exit_status();
  if (file) failed = finish_messages(*file, inputs.message_file, failed);
  if (first) {
    write_reports(inputs, counter.frequencies, sums, plan, failed);
    if (!inputs.message_file) close_output(messages);
  }
  return std::max(failed, exit_status());
}

// Reads the command line as patterntally does; rank 0 answers it, the others
// read it in silence. Returns the exit status when the program ends here,
// else -1.
int read_command_line_on_ranks(int argc, char** argv, int rank, unsigned& threads,
                               std::string& message_file) {
  const int saved[2] = {rank == 0 ? -1 : ::dup(1), rank == 0 ? -1 : ::dup(2)};
  if (rank != 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::close(null);
  }
  const std::string usage = usage_text({.about = about,
                                        .status_line_paragraph = false,
                                        .threads = threads_help,
                                        .own_options = own_options,
                                        .after = after});
  int status =
      read_command_line(argc, argv, usage, version,
                        {.threads = &threads, .own = {{.name = "messages", .value = &message_file}}});
  if (status < 0 && message_file.empty()) status = usage_error(empty_output_name);
  if (rank != 0) {
    ::dup2(saved[0], 1);
    ::dup2(saved[1], 2);
    ::close(saved[0]);
    ::close(saved[1]);
  }
  return status;
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
  unsigned threads = default_thread_count();
  std::string message_file = no_message_file;
  const int command_line_status = read_command_line_on_ranks(argc, argv, rank, threads, message_file);
  const int status = command_line_status >= 0 ? command_line_status : run(rank, ranks, threads, message_file);
  send_short_writes_at_once();
  MPI_Finalize();
  return status;
}

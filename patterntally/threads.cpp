// Counting the corpus on several threads. Each thread takes the next block of
// whole lines, read straight into one of a fixed number of buffers, counts it
// with its own copy of the tokeniser, and hands it back. Blocks are read in
// order and numbered; their messages are written in that order, with line
// numbers that follow the lines of the blocks before, by whichever thread
// hands back the block that is next. So the output depends neither on the
// number of threads nor on their timing.
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "output.h"
#include "patterntally.h"
#include "thread_start.h"

namespace {

struct Block {
  ReadBuffer bytes;
  std::size_t size = 0;      // bytes[0, size): whole lines
  std::uint64_t number = 0;  // in reading order, from 0
  RangeCount range;
};

struct SharedRun {
  Output* messages = nullptr;

  // Reading, under `read_mutex`.
  std::mutex read_mutex;
  LineReader* corpus = nullptr;
  std::string carry;  // bytes read after the last line feed
  std::uint64_t next_number = 0;
  bool at_end = false;
  int read_error = 0;  // reported once the messages before it are out

  // Blocks free and blocks counted, under `state_mutex`.
  std::mutex state_mutex;
  std::condition_variable block_freed;
  std::vector<std::unique_ptr<Block>> free_blocks;
  std::map<std::uint64_t, std::unique_ptr<Block>> counted;
  std::uint64_t next_to_write = 0;
  bool writing = false;     // a thread is writing messages
  std::uint64_t lines = 0;  // of the blocks written, read by the writing thread only
  std::uint64_t first_line_number = 1;
  std::size_t block_size = thread_block_size;
};

// Reads the next block of whole lines into `b`: what was left after the last
// line feed, then reads until a line feed comes or the input ends. False when
// nothing is left.
bool read_block(SharedRun& run, Block& b) {
  b.size = run.carry.size();
  reserve_bytes(b.bytes, b.size + run.block_size);
  if (b.size != 0) std::memcpy(b.bytes.data(), run.carry.data(), b.size);
  run.carry.clear();
  std::size_t searched = b.size;  // bytes known to hold no line feed
  while (!run.at_end) {
    reserve_bytes(b.bytes, b.size + run.block_size);
    const std::size_t got =
        read_bytes(*run.corpus, b.bytes.data() + b.size, b.bytes.size - b.size, run.read_error);
    if (got == 0) {
      run.at_end = true;
      break;
    }
    b.size += got;
    const void* lf = ::memrchr(b.bytes.data() + searched, '\n', b.size - searched);
    if (lf != nullptr) {
      const auto end = static_cast<std::size_t>(static_cast<const char*>(lf) - b.bytes.data()) + 1;
      run.carry.assign(b.bytes.data() + end, b.size - end);
      b.size = end;
      break;
    }
    searched = b.size;
  }
  if (b.size == 0) return false;
  b.number = run.next_number++;
  return true;
}

std::unique_ptr<Block> take_free_block(SharedRun& run) {
  std::unique_lock lock(run.state_mutex);
  run.block_freed.wait(lock, [&] { return !run.free_blocks.empty(); });
  std::unique_ptr<Block> b = std::move(run.free_blocks.back());
  run.free_blocks.pop_back();
  return b;
}

void give_back(SharedRun& run, std::unique_ptr<Block> b) {
  b->range = RangeCount{};
  const std::lock_guard lock(run.state_mutex);
  run.free_blocks.push_back(std::move(b));
  run.block_freed.notify_one();
}

// Files a counted block; then, unless another thread is at it, writes the
// messages of every block that is next, in order, and frees them.
void hand_back(SharedRun& run, std::unique_ptr<Block> b) {
  std::unique_lock lock(run.state_mutex);
  const std::uint64_t number = b->number;
  run.counted.emplace(number, std::move(b));
  if (run.writing) return;
  run.writing = true;
  for (auto next = run.counted.find(run.next_to_write); next != run.counted.end();
       next = run.counted.find(run.next_to_write)) {
    std::unique_ptr<Block> block = std::move(next->second);
    run.counted.erase(next);
    lock.unlock();
    write_invalid_byte_messages(*run.messages, block->range.invalid_bytes, run.first_line_number + run.lines);
    run.lines += block->range.lines;
    block->range = RangeCount{};
    lock.lock();
    ++run.next_to_write;
    run.free_blocks.push_back(std::move(block));
    run.block_freed.notify_one();
  }
  run.writing = false;
}

void count_blocks(SharedRun& run, Tokenizer& tokenizer) {
  for (;;) {
    std::unique_ptr<Block> b = take_free_block(run);
    bool got = false;
    {
      const std::lock_guard lock(run.read_mutex);
      got = read_block(run, *b);
    }
    if (!got) {
      give_back(run, std::move(b));
      return;
    }
    b->range = count_range(tokenizer, std::string_view(b->bytes.data(), b->size));
    hand_back(run, std::move(b));
  }
}

}  // namespace

std::uint64_t count_corpus_in_threads(LineReader& corpus, Tokenizer& tokenizer, unsigned threads,
                                      Output& messages, FrequencyTable& table,
                                      std::uint64_t first_line_number, std::size_t block_size,
                                      std::vector<Tokenizer>* kept_copies) {
  SharedRun run;
  run.messages = &messages;
  run.corpus = &corpus;
  run.block_size = block_size;
  run.first_line_number = first_line_number;
  // Enough blocks that every thread has one to count while others wait to
  // be written.
  for (unsigned i = 0; i < 2 * threads + 1; ++i) run.free_blocks.push_back(std::make_unique<Block>());
  std::vector<Tokenizer> own_copies;
  std::vector<Tokenizer>& copies = kept_copies != nullptr ? *kept_copies : own_copies;
  if (copies.size() != threads - 1) copies.assign(threads - 1, tokenizer);  // its counts are all 0
  {
    // The threads that the system refuses are left out: their copies count
    // nothing.
    std::vector<std::jthread> workers;
    workers.reserve(copies.size());
    for (Tokenizer& copy : copies) {
      std::jthread worker;
      if (!start_thread(worker, [&run, &copy] { count_blocks(run, copy); })) {
        note_fewer_threads("counting", workers.size() + 1, errno);
        break;
      }
      workers.push_back(std::move(worker));
    }
    count_blocks(run, tokenizer);
  }
  if (run.read_error != 0) report_read_failure(corpus.name, run.read_error);
  if (kept_copies == nullptr) add_token_counts(tokenizer, copies, table);
  return run.lines;
}

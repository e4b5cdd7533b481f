// Counting one chunk of the corpus (see chunk_counting.h).
#include "chunk_counting.h"

#include <cerrno>
#include <cstdio>

#include "file_names.h"
#include "output.h"

bool corpus_open_here(LineReader& corpus) {
  if (corpus.file == nullptr) corpus = open_lines(corpus_file, true);
  return corpus.file != nullptr;
}

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

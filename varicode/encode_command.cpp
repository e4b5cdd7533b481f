// `varicode encode`: each website of its files written as the code words of
// its tokens, one line for each line read, or packed as bits (packed.h),
// coded a block at a time on several threads (encode_workers.h). What could
// not be coded is reported after the lines before it have gone to the
// output, as one thread would; at the end, a note tells how many websites
// will not decode as they were read.
#include <algorithm>
#include <cstdint>

#include "codec.h"
#include "command_io.h"
#include "encode_workers.h"
#include "messages.h"
#include "packed.h"

namespace {

// The codes of a run of lines on their way to `out`: they reach it as
// write_output would take them one by one, those that stay in its buffer
// together.
struct CodedRun {
  Output& out;
  const WrittenLines& coded;
  std::size_t from = 0;  // where the bytes not passed to `out` yet begin
  std::size_t next = 0;  // the first line not passed to `out` yet
};

// Adds the bytes of `run` up to `to` to the buffer of its output, which is
// flushed when full.
void buffer_up_to(CodedRun& run, std::size_t to) {
  Output& out = run.out;
  if (!out.failed) {
    out.buffer.append(run.coded.bytes.substr(run.from, to - run.from));
    if (out.fd >= 0 && out.buffer.size() >= output_flush_size) flush_full_buffer(out);
  }
  run.from = to;
}

// Passes the lines of `run` before `last` to its output, up to each that
// fills the buffer; a line longer than the buffer is written straight, after
// the buffer.
void pass_lines_before(CodedRun& run, std::size_t last) {
  const std::vector<std::size_t>& ends = run.coded.ends;
  while (run.next < last) {
    const std::size_t room = output_flush_size - std::min(run.out.buffer.size(), output_flush_size);
    const auto full = std::lower_bound(ends.begin() + static_cast<std::ptrdiff_t>(run.next),
                                       ends.begin() + static_cast<std::ptrdiff_t>(last), run.from + room);
    const auto line = static_cast<std::size_t>(full - ends.begin());
    if (line == last) {
      buffer_up_to(run, ends[last - 1]);
      run.next = last;
      break;
    }
    const std::size_t begin = line == 0 ? 0 : ends[line - 1];
    if (ends[line] - begin >= output_flush_size) {
      buffer_up_to(run, begin);
      write_output(run.out, run.coded.bytes.substr(begin, ends[line] - begin));
      run.from = ends[line];
    } else {
      buffer_up_to(run, ends[line]);
    }
    run.next = line + 1;
  }
}

// Writes the codes of a run of lines of `file` to `out`, whose first line
// follows line `number`, each problem reported after the lines before it.
void write_coded_run(Output& out, const WrittenLines& coded, const std::string& file, std::uint64_t number) {
  CodedRun run{out, coded};
  for (const auto& [line, unwritten] : coded.unwritten) {
    pass_lines_before(run, line + 1);
    report_line_problem(
        file, number + line + 1,
        unwritten.token ? no_code_problem(unwritten.text) : invalid_character_problem(unwritten.text));
  }
  pass_lines_before(run, coded.ends.size());
}

// Writes the codes of a run of lines packed, then reports its problems.
void write_packed_run(Output& out, PackedWriter& writer, const WrittenLines& coded, const std::string& file,
                      std::uint64_t number) {
  pack_codes(writer, coded.bytes);
  write_output(out, writer.bytes);
  writer.bytes.clear();
  for (const auto& [line, unwritten] : coded.unwritten) {
    report_line_problem(
        file, number + line + 1,
        unwritten.token ? no_code_problem(unwritten.text) : invalid_character_problem(unwritten.text));
  }
}

// The websites that will not decode as they were read.
struct Losses {
  std::uint64_t start_pattern = 0;
  std::uint64_t invalid_bytes = 0;
};

void count_losses(const WrittenLines& coded, Losses& losses) {
  losses.start_pattern += coded.lost_start;
  std::size_t last = SIZE_MAX;
  for (const auto& [line, unwritten] : coded.unwritten) {
    if (unwritten.token || line == last) continue;
    ++losses.invalid_bytes;
    last = line;
  }
}

}  // namespace

int run_encode(const std::vector<std::string>& files, unsigned threads, const std::string& output,
               bool packed) {
  buffer_standard_error();
  if (!check_outputs(files, output)) return finish(standard_output());
  CodeMap map;
  if (!read_map(map)) return 1;
  const Coder coder = build_coder(map);
  if (input_unreadable()) return finish(standard_output());
  Output named;
  Output& out = command_output(output, inputs_of(files), named);
  if (out.failed) return finish(out);
  PackedWriter writer;
  if (packed) start_packing(writer, code_map_digest());
  EncodeWorkers workers = start_encode_workers(coder, threads > 1 ? threads - 1 : 0);
  start_line_progress("encode", "encoded");
  std::uint64_t done = 0;
  Losses losses;
  for_each_block(files, [&](const std::string& file, std::uint64_t& number, std::string_view block) {
    encode_block(coder, block, workers, [&](const WrittenLines& coded) {
      if (packed) {
        write_packed_run(out, writer, coded, file, number);
      } else {
        write_coded_run(out, coded, file, number);
      }
      count_losses(coded, losses);
      number += coded.ends.size();
      done += coded.ends.size();
      progress_done.store(done, std::memory_order_relaxed);
    });
  });
  if (packed) {
    finish_packing(writer);
    write_output(out, writer.bytes);
  }
  stop_progress();
  if (losses.start_pattern != 0 || losses.invalid_bytes != 0) {
    report_note(lost_websites_note(losses.start_pattern, losses.invalid_bytes));
  }
  const int status = finish(out);
  stop_encode_workers(workers);
  return status;
}

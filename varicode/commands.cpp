// The commands of varicode over their files.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "line_reader.h"
#include "messages.h"
#include "output.h"
#include "patterntally.h"
#include "progress.h"
#include "thread_start.h"
#include "trim.h"
#include "varicode.h"

namespace {

// Reports a problem of line `number` of `file`.
void report_line_problem(const std::string& file, std::uint64_t number, std::string_view what) {
  report_problem(line_problem(file, number, what));
}

// The files a command reads, which standard output may not be.
std::vector<std::string> inputs_of(const std::vector<std::string>& files) {
  std::vector<std::string> inputs(input_files.begin() + 1, input_files.end());
  inputs.emplace_back(code_map_file);
  for (const std::string& file : files) {
    if (file != "-") inputs.push_back(file);
  }
  return inputs;
}

// Reads the code map; false, reported, when there is none.
bool read_map(CodeMap& map) { return read_code_map(code_map_file, map); }

// Whether `files` has standard input read: no file, or "-".
bool reads_standard_input(const std::vector<std::string>& files) {
  return files.empty() || std::find(files.begin(), files.end(), "-") != files.end();
}

// What every command checks before it reads: standard output is none of
// `files` nor any other file it reads. False when the run is to stop.
bool check_outputs(const std::vector<std::string>& files) {
  if (reads_standard_input(files) && !check_standard_input()) return false;
  check_standard_output(inputs_of(files));
  return true;
}

// Calls `each(file, number, line)` for every line of `files` in order, "-"
// (or no file at all) being standard input; a file that cannot be opened is
// reported and passed over.
// The status line counts the lines done every this many lines.
constexpr std::uint64_t lines_per_update = 1024;

template <typename Each>
void for_each_line(const std::vector<std::string>& files, Each&& each) {
  const std::vector<std::string> standard_input = {"-"};
  std::uint64_t done = 0;
  for (const std::string& file : files.empty() ? standard_input : files) {
    LineReader reader = file == "-" ? standard_input_lines(file) : open_lines(file, true);
    std::string_view line;
    std::uint64_t number = 0;
    while (next_line(reader, line)) {
      each(file, ++number, line);
      if (++done % lines_per_update == 0) progress_done.store(done, std::memory_order_relaxed);
    }
    close_lines(reader);
  }
}

// Calls `each(file, number, block)` for every block of whole lines of `files`
// (see next_block), read as for_each_line reads them; `number` counts the
// lines of the file before the block, and `each` adds those of the block.
template <typename Each>
void for_each_block(const std::vector<std::string>& files, Each&& each) {
  const std::vector<std::string> standard_input = {"-"};
  for (const std::string& file : files.empty() ? standard_input : files) {
    LineReader reader = file == "-" ? standard_input_lines(file) : open_lines(file, true);
    std::string_view block;
    std::uint64_t number = 0;
    while (next_block(reader, block)) each(file, number, block);
    close_lines(reader);
  }
}

// Shows how many lines `command` has done ("encoded", say).
void start_line_progress(const std::string& command, const std::string& done) {
  start_progress([command, done](double seconds) {
    const auto lines = static_cast<double>(progress_done.load(std::memory_order_relaxed));
    return "varicode " + command + ": " + format_count(lines) + " lines " + done + ", " +
           format_count(seconds > 0 ? lines / seconds : 0) + " lines/s";
  });
}

// Many messages may come: standard error collects them in a buffer, which
// the failure lines and the end of the program flush. Not on a terminal,
// where each is seen as it comes.
void buffer_standard_error() {
  static char buffer[1 << 16];
  if (::isatty(2) != 1) std::setvbuf(stderr, buffer, _IOFBF, sizeof buffer);
}

int finish(Output& out) {
  stop_progress();
  close_output(out);
  std::fflush(stderr);
  return exit_status();
}

// Encodes, on a thread of its own, the runs of lines handed to it one at a
// time, and keeps what encode_lines gives until the next run (its codes stay
// in that thread's own room until then).
class EncodingThread {
 public:
  explicit EncodingThread(const Coder& coder) : coder_(coder) {}
  // Starts the thread; false, errno telling why, when the system refuses it.
  bool start_serving() {
    return start_thread(thread_, [this] { serve(); });
  }
  ~EncodingThread() {
    if (!thread_.joinable()) return;
    {
      const std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  EncodingThread(const EncodingThread&) = delete;
  EncodingThread& operator=(const EncodingThread&) = delete;

  void start(std::string_view lines) {
    {
      const std::lock_guard lock(mutex_);
      lines_ = lines;
      given_ = true;
    }
    changed_.notify_all();
  }

  const std::vector<WrittenLines>& finish() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !given_ && !working_; });
    return coded_;
  }

 private:
  void serve() {
    for (;;) {
      std::string_view lines;
      {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return given_ || stopping_; });
        if (stopping_) return;
        lines = lines_;
        given_ = false;
        working_ = true;
      }
      coded_.clear();
      encode_lines(coder_, lines, [this](const WrittenLines& coded) { coded_.push_back(coded); });
      {
        const std::lock_guard lock(mutex_);
        working_ = false;
      }
      changed_.notify_all();
    }
  }

  const Coder& coder_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string_view lines_;
  bool given_ = false;
  bool working_ = false;
  bool stopping_ = false;
  std::vector<WrittenLines> coded_;
  std::thread thread_;
};

// Encodes `block` on this thread and `helpers`, a slice each, cut after line
// feeds; gives `take` the codes in the order of the lines.
template <typename Take>
void encode_block(const Coder& coder, std::string_view block,
                  std::vector<std::unique_ptr<EncodingThread>>& helpers, Take&& take) {
  constexpr std::size_t smallest_slice = 16 << 10;  // below this, handing over costs more than it saves
  const std::size_t slices =
      std::min(helpers.size() + 1, std::max<std::size_t>(1, block.size() / smallest_slice));
  std::size_t from = 0;
  std::string_view first;
  for (std::size_t i = 0; i < slices; ++i) {
    const std::size_t cut = cut_after_line_feed(block, from, i, slices);
    const std::string_view slice = block.substr(from, cut - from);
    if (i == 0) {
      first = slice;
    } else {
      helpers[i - 1]->start(slice);
    }
    from = cut;
  }
  encode_lines(coder, first, take);
  for (std::size_t i = 1; i < slices; ++i) {
    for (const WrittenLines& coded : helpers[i - 1]->finish()) take(coded);
  }
}

}  // namespace

int run_encode(const std::vector<std::string>& files, unsigned threads) {
  buffer_standard_error();
  Output& out = standard_output();
  if (!check_outputs(files)) return finish(out);
  CodeMap map;
  if (!read_map(map)) return 1;
  const Coder coder = build_coder(map);
  if (input_unreadable()) return finish(out);
  std::vector<std::unique_ptr<EncodingThread>> helpers;
  for (unsigned i = 1; i < threads; ++i) {
    auto helper = std::make_unique<EncodingThread>(coder);
    if (!helper->start_serving()) {
      note_fewer_threads("encoding", helpers.size() + 1, errno);
      break;
    }
    helpers.push_back(std::move(helper));
  }
  start_line_progress("encode", "encoded");
  std::uint64_t done = 0;
  for_each_block(files, [&](const std::string& file, std::uint64_t& number, std::string_view block) {
    encode_block(coder, block, helpers, [&](const WrittenLines& coded) {
      // The lines reach `out` as write_output would take them one by one,
      // those that stay in its buffer together.
      std::size_t from = 0;  // where the lines not handed to `out` yet begin
      std::size_t next = 0;  // the first of them
      auto hand = [&](std::size_t to) {
        if (!out.failed) {
          out.buffer.append(coded.bytes.substr(from, to - from));
          if (out.fd >= 0 && out.buffer.size() >= output_flush_size) flush_full_buffer(out);
        }
        from = to;
      };
      // Hands the lines before `last`, up to each that fills the buffer.
      auto hand_lines = [&](std::size_t last) {
        while (next < last) {
          const std::size_t room = output_flush_size - std::min(out.buffer.size(), output_flush_size);
          const auto full =
              std::lower_bound(coded.ends.begin() + static_cast<std::ptrdiff_t>(next),
                               coded.ends.begin() + static_cast<std::ptrdiff_t>(last), from + room);
          const auto line = static_cast<std::size_t>(full - coded.ends.begin());
          if (line == last) {
            hand(coded.ends[last - 1]);
            next = last;
            break;
          }
          const std::size_t begin = line == 0 ? 0 : coded.ends[line - 1];
          if (coded.ends[line] - begin >= output_flush_size) {  // written straight, after the buffer
            hand(begin);
            write_output(out, coded.bytes.substr(begin, coded.ends[line] - begin));
            from = coded.ends[line];
          } else {
            hand(coded.ends[line]);
          }
          next = line + 1;
        }
      };
      for (const auto& [line, u] : coded.unwritten) {
        hand_lines(line + 1);
        report_line_problem(file, number + line + 1,
                            u.token ? no_code_problem(u.text) : invalid_character_problem(u.text));
      }
      hand_lines(coded.ends.size());
      number += coded.ends.size();
      done += coded.ends.size();
      progress_done.store(done, std::memory_order_relaxed);
    });
  });
  return finish(out);
}

int run_decode(const std::vector<std::string>& files) {
  buffer_standard_error();
  Output& out = standard_output();
  if (!check_outputs(files)) return finish(out);
  CodeMap map;
  if (!read_map(map)) return 1;
  const Decoder decoder = build_decoder(map);
  std::string text;
  start_line_progress("decode", "decoded");
  for_each_line(files, [&](const std::string& file, std::uint64_t number, std::string_view line) {
    text.clear();
    const std::string wrong = decode_line(decoder, line, text);
    text += '\n';
    write_output(out, text);
    if (!wrong.empty()) report_line_problem(file, number, wrong);
  });
  return finish(out);
}

int run_report() {
  buffer_standard_error();
  check_standard_output(inputs_of({corpus_file}));
  CodeMap map;
  if (!read_map(map)) return 1;
  const Coder coder = build_coder(map);
  if (input_unreadable()) return finish(standard_output());
  const Tokenizer& t = coder.tokenizer;
  ReportFigures f;
  std::vector<std::uint64_t> count(token_count(t), 0);
  std::vector<bool> reported(token_count(t), false);
  start_line_progress("report", "read");
  for_each_line({corpus_file}, [&](const std::string& file, std::uint64_t number, std::string_view line) {
    ++f.websites;
    const std::string_view trimmed = trim_view(line);
    f.bytes += trimmed.size();
    std::uint64_t tokens = 0;
    std::uint64_t bits = 0;
    bool coded = true;
    walk_tokens(
        t, without_start_pattern(t, trimmed),
        [&](std::uint32_t token) {
          ++count[token];
          ++tokens;
          bits += coder.code_size[token];
          if (coder.code_size[token] != 0) return;
          coded = false;
          if (reported[token]) return;
          reported[token] = true;
          report_line_problem(file, number, no_code_problem(token_text(t, token)));
        },
        [&](std::size_t) { ++f.skipped_bytes; });
    f.tokens += tokens;
    if (coded && tokens != 0) f.bits += bits + 2 * (tokens - 1);
  });
  std::vector<std::uint64_t> counts;
  for (std::uint32_t token = 0; token < count.size(); ++token) {
    if (count[token] == 0) continue;
    counts.push_back(count[token]);
    if (coder.code_size[token] == 0) continue;
    f.costliest.push_back(
        {token_text(t, token), count[token], coder.code_size[token], count[token] * coder.code_size[token]});
  }
  f.optimal_prefix_bits = optimal_prefix_code_bits(counts);
  f.entropy_bits = entropy_bits(counts);
  // The costliest first; among equal costs the more frequent, then the pattern.
  std::sort(f.costliest.begin(), f.costliest.end(), [](const auto& a, const auto& b) {
    if (a.bits != b.bits) return a.bits > b.bits;
    if (a.count != b.count) return a.count > b.count;
    return a.pattern < b.pattern;
  });
  if (f.costliest.size() > 20) f.costliest.resize(20);
  stop_progress();
  Output& out = standard_output();
  write_output(out, format_report(f));
  return finish(out);
}

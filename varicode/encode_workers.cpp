// Encoding a block of lines on several threads (see encode_workers.h): each
// worker waits for a slice, encodes it and says it is done; the calling
// thread hands out the slices, encodes its own, and takes the workers' codes
// in order.
#include "encode_workers.h"

#include <algorithm>
#include <cerrno>

#include "thread_start.h"

namespace {

// The loop of a worker's thread: a slice at a time, until it is stopped.
void serve(EncodeWorker& worker) {
  for (;;) {
    std::string_view slice;
    {
      std::unique_lock lock(worker.mutex);
      worker.changed.wait(lock, [&] { return worker.given || worker.stopping; });
      if (worker.stopping) return;
      slice = worker.slice;
      worker.given = false;
      worker.working = true;
    }
    worker.coded.clear();
    encode_lines(*worker.coder, slice, [&](const WrittenLines& coded) { worker.coded.push_back(coded); });
    {
      const std::lock_guard lock(worker.mutex);
      worker.working = false;
    }
    worker.changed.notify_all();
  }
}

// Gives `worker` the slice to encode next.
void give_slice(EncodeWorker& worker, std::string_view slice) {
  {
    const std::lock_guard lock(worker.mutex);
    worker.slice = slice;
    worker.given = true;
  }
  worker.changed.notify_all();
}

// The codes of the slice `worker` was given, once it is done.
const std::vector<WrittenLines>& codes_of(EncodeWorker& worker) {
  std::unique_lock lock(worker.mutex);
  worker.changed.wait(lock, [&] { return !worker.given && !worker.working; });
  return worker.coded;
}

}  // namespace

EncodeWorkers start_encode_workers(const Coder& coder, unsigned count) {
  EncodeWorkers workers;
  for (unsigned i = 0; i < count; ++i) {
    auto worker = std::make_unique<EncodeWorker>();
    worker->coder = &coder;
    EncodeWorker& started = *worker;
    if (!start_thread(worker->thread, [&started] { serve(started); })) {
      note_fewer_threads("encoding", workers.size() + 1, errno);
      break;
    }
    workers.push_back(std::move(worker));
  }
  return workers;
}

void stop_encode_workers(EncodeWorkers& workers) {
  for (const std::unique_ptr<EncodeWorker>& worker : workers) {
    {
      const std::lock_guard lock(worker->mutex);
      worker->stopping = true;
    }
    worker->changed.notify_all();
    worker->thread.join();
  }
  workers.clear();
}

void encode_block(const Coder& coder, std::string_view block, EncodeWorkers& workers,
                  const std::function<void(const WrittenLines&)>& take) {
  constexpr std::size_t smallest_slice = 16 << 10;  // below this, handing over costs more than it saves
  const std::size_t slices =
      std::min(workers.size() + 1, std::max<std::size_t>(1, block.size() / smallest_slice));
  std::size_t from = 0;
  std::string_view first;
  for (std::size_t i = 0; i < slices; ++i) {
    const std::size_t cut = cut_after_line_feed(block, from, i, slices);
    const std::string_view slice = block.substr(from, cut - from);
    if (i == 0) {
      first = slice;
    } else {
      give_slice(*workers[i - 1], slice);
    }
    from = cut;
  }
  encode_lines(coder, first, take);
  for (std::size_t i = 1; i < slices; ++i) {
    for (const WrittenLines& coded : codes_of(*workers[i - 1])) take(coded);
  }
}

// Encoding a block of lines on several threads: the block is cut into
// slices after line feeds, the calling thread encodes the first and each
// worker one of the others, and the codes are taken in the order of the
// lines. A worker lives for the whole command and keeps its codes in room of
// its own until the next slice.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

#include "codec.h"

// A worker's state, shared with its thread under `mutex`.
struct EncodeWorker {
  const Coder* coder = nullptr;
  std::mutex mutex;
  std::condition_variable changed;
  std::string_view slice;
  bool given = false;    // a slice waits for the thread
  bool working = false;  // the thread encodes it
  bool stopping = false;
  std::vector<WrittenLines> coded;  // the codes of the last slice
  std::thread thread;
};

using EncodeWorkers = std::vector<std::unique_ptr<EncodeWorker>>;

// Up to `count` workers for `coder`, as many as the system starts; the run
// goes on with fewer, which is noted on standard error.
EncodeWorkers start_encode_workers(const Coder& coder, unsigned count);

// Stops `workers` and waits for their threads.
void stop_encode_workers(EncodeWorkers& workers);

// Encodes `block` on this thread and `workers`, a slice each, cut after line
// feeds; gives `take` the codes in the order of the lines. Small blocks go
// in fewer slices.
void encode_block(const Coder& coder, std::string_view block, EncodeWorkers& workers,
                  const std::function<void(const WrittenLines&)>& take);

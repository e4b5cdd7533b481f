// Taking a sample of lines evenly from a stream of unknown length, in one
// pass and in memory for about twice the sample: every `stride`-th line is
// kept, and when twice the target are kept, every other one is dropped and
// the stride doubles. At the end the target is taken evenly from what is kept.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct EvenSample {
  std::uint64_t target = 0;  // 0: every line
  std::uint64_t stride = 1;
  std::uint64_t seen = 0;
  std::vector<std::string> kept;
};

// Offers the next line of the stream to `sample`, which may keep a copy.
void offer(EvenSample& sample, std::string_view line);

// The sample: `target` lines taken evenly from those kept (all of them when
// fewer, or when the target is 0), in the order of the stream. Leaves
// `sample` emptied.
std::vector<std::string> take(EvenSample& sample);

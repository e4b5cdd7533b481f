// Taking a sample of lines evenly from a stream (see even_sample.h).
#include "even_sample.h"

void offer(EvenSample& sample, std::string_view line) {
  if (sample.seen++ % sample.stride != 0) return;
  sample.kept.emplace_back(line);
  if (sample.target == 0 || sample.kept.size() < 2 * sample.target) return;
  // From 1: a string moved onto itself is left empty.
  for (std::size_t i = 1; 2 * i < sample.kept.size(); ++i) sample.kept[i] = std::move(sample.kept[2 * i]);
  sample.kept.resize((sample.kept.size() + 1) / 2);
  sample.stride *= 2;
}

std::vector<std::string> take(EvenSample& sample) {
  const std::size_t size = sample.kept.size();
  if (sample.target == 0 || size <= sample.target) return std::move(sample.kept);
  std::vector<std::string> taken;
  taken.reserve(sample.target);
  for (std::size_t i = 0; i < sample.target; ++i)
    taken.push_back(std::move(sample.kept[i * size / sample.target]));
  return taken;
}

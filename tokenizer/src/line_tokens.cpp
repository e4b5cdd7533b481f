// The tokens of one line, for callers that need them in order and not only
// counted. The walk of the line (line_walk.h) notes pops as the automaton
// makes them; here each pop is taken apart into its tokens at once, and the
// tokens, with the invalid bytes between them, are handed over in batches,
// so that the caller's loop over them is its own, inlined, and a long line
// needs no more room than a batch.
#include <array>

#include "line_walk.h"

void walk_line_steps(const Tokenizer& t, std::string_view text, LineStepSink sink) {
  const Automaton& a = *t.automaton;
  std::array<LineStep, 256> steps;
  std::size_t count = 0;
  auto put = [&](LineStep step) {
    steps[count++] = step;
    if (count == steps.size()) {
      sink.take(sink.context, steps.data(), count);
      count = 0;
    }
  };
  auto pop = [&](std::uint32_t v) {
    if (is_token(a, v)) {  // most pops are of a single token
      put({token_id(a, v), 0});
      return;
    }
    for_each_popped_token(a, v, [&](std::uint32_t node) { put({token_id(a, node), 0}); });
  };
  const auto* const begin = reinterpret_cast<const unsigned char*>(text.data());
  const std::uint32_t node = walk_pops(a, 0, begin, begin + text.size(), pop, [&](const unsigned char* at) {
    put({no_token, static_cast<std::size_t>(at - begin)});
  });
  pop_to_root(a, node, pop);
  if (count != 0) sink.take(sink.context, steps.data(), count);
}

// What the ranks agree on before they count (see agreement.h).
#include "agreement.h"

#include <cstdint>
#include <string_view>
#include <vector>

#include "messages.h"
#include "output.h"
#include "transfer.h"

namespace {

// A digest of the definition lists as read, in order: each list's length,
// then each entry's length and bytes, through 64-bit FNV-1a. Ranks that read
// the same files have the same digest; ranks that read other lists, even
// with as many entries, almost surely not.
std::uint64_t digest_of(const Definitions& definitions) {
  std::uint64_t digest = 0xcbf29ce484222325;
  const auto mix = [&digest](std::string_view bytes) {
    for (const char byte : bytes) {
      digest ^= static_cast<unsigned char>(byte);
      digest *= 0x100000001b3;
    }
  };
  const auto mix_length = [&mix](std::uint64_t length) {
    char bytes[8];
    for (std::size_t i = 0; i < sizeof bytes; ++i) bytes[i] = static_cast<char>(length >> (8 * i));
    mix(std::string_view(bytes, sizeof bytes));
  };
  for (const PatternList* list : {&definitions.valid, &definitions.recurrent, &definitions.start}) {
    mix_length(list->size());
    for (const std::string& entry : *list) {
      mix_length(entry.size());
      mix(entry);
    }
  }
  return digest;
}

}  // namespace

bool same_definitions(const Definitions& definitions, bool unreadable, int rank, int ranks) {
  const std::uint64_t digest = digest_of(definitions);
  const std::uint64_t mine[2] = {digest, unreadable ? 1u : 0u};
  std::vector<std::uint64_t> all(rank == 0 ? 2 * static_cast<std::size_t>(ranks) : 0);
  MPI_Request request = MPI_REQUEST_NULL;
  MPI_Igather(mine, 2, MPI_UINT64_T, all.data(), 2, MPI_UINT64_T, 0, MPI_COMM_WORLD, &request);
  wait_for(request);
  bool same = !unreadable;
  for (std::size_t other = 1; 2 * other < all.size(); ++other) {
    if (all[2 * other + 1] != 0) same = false;
    if (all[2 * other + 1] != 0 || all[2 * other] == digest) continue;
    report_problem(other_definitions_problem(other));
    same = false;
  }
  return same;
}

ChunkPlan share_plan(const ChunkPlan& plan) {
  std::uint64_t planned[5] = {plan.count, plan.size, plan.chunk_length, plan.short_from, plan.short_length};
  MPI_Request request = MPI_REQUEST_NULL;
  MPI_Ibcast(planned, 5, MPI_UINT64_T, 0, MPI_COMM_WORLD, &request);
  wait_for(request);
  return {planned[0], planned[1], planned[2], planned[3], planned[4]};
}

#include "bitladder.h"

#include <cstring>
#include <functional>

#include "failure.h"
#include "line_reader.h"
#include "output.h"
#include "trim.h"

void next_code(std::string& code) {
  const std::size_t zero = code.rfind('0');
  std::size_t from = 0;  // code[from..] is rewritten as the smallest valid ending
  if (zero == std::string::npos) {
    code.assign(code.size() + 1, '1');  // all '1': the first code one longer
    from = 1;
  } else {
    code[zero] = '1';
    from = zero + 1;
  }
  // After a '1', the smallest ending of m places that ends in '1' with no
  // "00" is "0101...01", or "0101...011" when m is odd.
  const std::size_t places = code.size() - from;
  for (std::size_t k = 0; k + 1 < places; k += 2) {
    code[from + k] = '0';
    code[from + k + 1] = '1';
  }
  if (places % 2 == 1) code[code.size() - 1] = '1';
}

namespace {

std::string_view record_text(const char* record) {
  std::size_t size = 0;
  std::memcpy(&size, record, sizeof size);
  return {record + sizeof size, size};
}

const char* store_record(LineSet& set, std::string_view line) {
  const std::size_t needed = sizeof(std::size_t) + line.size();
  if (set.blocks.empty() || set.block_size - set.block_used < needed) {
    set.block_size = std::max<std::size_t>(std::size_t{1} << 20, needed);
    set.blocks.push_back(std::make_unique<char[]>(set.block_size));
    set.block_used = 0;
  }
  char* record = set.blocks.back().get() + set.block_used;
  const std::size_t size = line.size();
  std::memcpy(record, &size, sizeof size);
  if (size != 0) std::memcpy(record + sizeof size, line.data(), size);
  set.block_used += (needed + 7) & ~std::size_t{7};
  if (set.block_used > set.block_size) set.block_used = set.block_size;
  return record;
}

void grow(LineSet& set) {
  std::vector<LineSet::Slot> slots(set.slots.size() * 2);
  const std::size_t mask = slots.size() - 1;
  for (const LineSet::Slot& slot : set.slots) {
    if (slot.record == nullptr) continue;
    std::size_t i = slot.hash & mask;
    while (slots[i].record != nullptr) i = (i + 1) & mask;
    slots[i] = slot;
  }
  set.slots = std::move(slots);
}

}  // namespace

bool insert_line(LineSet& set, std::string_view line) {
  const std::uint64_t hash = std::hash<std::string_view>{}(line);
  const std::size_t mask = set.slots.size() - 1;
  std::size_t i = hash & mask;
  for (; set.slots[i].record != nullptr; i = (i + 1) & mask) {
    if (set.slots[i].hash == hash && record_text(set.slots[i].record) == line) return false;
  }
  set.slots[i] = {hash, store_record(set, line)};
  if (++set.size * 2 > set.slots.size()) grow(set);
  return true;
}

int run_bitladder() {
  Output& messages = standard_output();
  LineReader input = open_lines(ranked_input_file);
  Output code_map = create_output(code_map_file);
  LineSet coded;
  std::string code;
  std::uint64_t total = 0;
  std::string_view line;
  while (next_line(input, line)) {
    line = trim_view(line);
    if (line.empty() || !insert_line(coded, line)) {
      write_output(messages, "More than one \"");
      write_output(messages, line);
      write_output(messages, "\"\n");
      continue;
    }
    next_code(code);
    ++total;
    write_output(code_map, code);
    write_output(code_map, " ");
    write_output(code_map, line);
    write_output(code_map, "\n");
  }
  std::string summary = "\nTOTAL NUMBER OF CODES:   ";
  summary += std::to_string(total);
  summary += "\nMAXIMUM LENGTH OF CODES: ";
  summary += std::to_string(code.size());
  summary += '\n';
  write_output(messages, summary);
  close_lines(input);
  close_output(code_map);
  close_output(messages);
  return exit_status();
}

// Fuzzes the decoding of packed streams. The first byte of the input tells
// how the rest is given: bit 0 set, the rest is taken for a stream's body and
// wrapped in a right header and trailer (its last byte is the count of
// websites), so that the decoder's walk is reached with a right checksum;
// else the rest is the stream as it stands. The byte's high bits give the
// size of the pieces the stream is fed in. Whatever it is given, decoding
// must end, either with a problem or with websites that, packed again from
// their code words, give the stream back byte for byte.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "code_words.h"
#include "packed.h"

namespace {

struct Fixture {
  CodeMap map;
  Decoder decoder;
  Fixture() {
    std::string code;
    for (int i = 0; i < 40; ++i) {  // code words up to 9 bits; "p<i>," patterns
      next_code(code);
      map.codes.push_back(code);
      map.patterns.push_back("p" + std::to_string(i) + ",");
    }
    decoder = build_decoder(map);
  }
};

// The text form of decoded websites, from their patterns.
std::string codes_of(const Fixture& fixture, std::string_view text) {
  std::string codes;
  bool first = true;
  for (std::size_t at = 0; at < text.size();) {
    if (text[at] == '\n') {
      codes += '\n';
      first = true;
      ++at;
      continue;
    }
    const std::size_t end = text.find(',', at) + 1;
    const int index = std::atoi(std::string(text.substr(at + 1, end - at - 2)).c_str());
    if (!first) codes += "00";
    codes += fixture.map.codes[static_cast<std::size_t>(index)];
    first = false;
    at = end;
  }
  return codes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const Fixture fixture;
  if (size == 0) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string stream;
  if ((data[0] & 1) != 0) {
    PackedWriter writer;
    start_packing(writer, 1);
    const std::string_view body = input.empty() ? input : input.substr(0, input.size() - 1);
    writer.bytes += body;
    writer.crc = crc32(writer.crc, body);
    writer.websites = input.empty() ? 0 : static_cast<unsigned char>(input.back());
    finish_packing(writer);
    stream = writer.bytes;
  } else {
    stream = input;
  }
  const std::size_t piece = 1 + (data[0] >> 1);
  PackedReader reader;
  reader.digest = 1;
  std::string text;
  for (std::size_t at = 0; at < stream.size(); at += piece) {
    if (!unpack(reader, fixture.decoder, std::string_view(stream).substr(at, piece), text).empty()) return 0;
  }
  if (!finish_unpacking(reader, fixture.decoder, text).empty()) return 0;
  PackedWriter again;
  start_packing(again, 1);
  pack_codes(again, codes_of(fixture, text));
  finish_packing(again);
  if (again.bytes != stream) std::abort();
  return 0;
}

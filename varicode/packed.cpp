// Packing the text-form codes into a stream, and decoding a stream straight
// from its bits: the body is read 64 bits at a time, each code word's end
// found as the first two zero bits in a row, and the run of zero bits after
// it measured to tell a join from a website's end.
#include "packed.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "messages.h"

namespace {

// Appends `value` as `size` bytes, most significant first.
void append_big_endian(std::string& bytes, std::uint64_t value, std::size_t size) {
  for (std::size_t i = size; i-- > 0;) bytes.push_back(static_cast<char>(value >> (8 * i) & 0xff));
}

// The CRC-32 eight bytes at a time: table k holds the CRC of a byte followed
// by k zero bytes.
constexpr std::array<std::array<std::uint32_t, 256>, 8> crc_tables = [] {
  std::array<std::array<std::uint32_t, 256>, 8> tables{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xedb88320 ^ (c >> 1) : c >> 1;
    tables[0][i] = c;
  }
  for (std::size_t k = 1; k < 8; ++k) {
    for (std::uint32_t i = 0; i < 256; ++i) {
      tables[k][i] = (tables[k - 1][i] >> 8) ^ tables[0][tables[k - 1][i] & 0xff];
    }
  }
  return tables;
}();

// 8 bytes of `bytes` from `at` as a number, the first byte the most
// significant.
std::uint64_t load_big_endian(const char* bytes) {
  std::uint64_t value = 0;
  std::memcpy(&value, bytes, 8);
  return std::endian::native == std::endian::little ? __builtin_bswap64(value) : value;
}

}  // namespace

std::uint64_t map_digest(std::string_view bytes, std::uint64_t digest) {
  for (const char byte : bytes) digest = (digest ^ static_cast<unsigned char>(byte)) * 0x100000001b3;
  return digest;
}

std::uint64_t read_big_endian(std::string_view bytes) {
  std::uint64_t value = 0;
  for (const char byte : bytes) value = value << 8 | static_cast<unsigned char>(byte);
  return value;
}

std::uint32_t crc32(std::uint32_t crc, std::string_view bytes) {
  const auto& t = crc_tables;
  crc = ~crc;
  std::size_t at = 0;
  for (; at + 8 <= bytes.size(); at += 8) {
    // The first four bytes meet the CRC, the last four come after them;
    // each as a number whose lowest byte is the first.
    std::uint32_t low = 0;
    std::uint32_t high = 0;
    std::memcpy(&low, bytes.data() + at, 4);
    std::memcpy(&high, bytes.data() + at + 4, 4);
    if constexpr (std::endian::native == std::endian::big) {
      low = __builtin_bswap32(low);
      high = __builtin_bswap32(high);
    }
    low ^= crc;
    crc = t[7][low & 0xff] ^ t[6][low >> 8 & 0xff] ^ t[5][low >> 16 & 0xff] ^ t[4][low >> 24] ^
          t[3][high & 0xff] ^ t[2][high >> 8 & 0xff] ^ t[1][high >> 16 & 0xff] ^ t[0][high >> 24];
  }
  for (; at < bytes.size(); ++at) {
    crc = t[0][(crc ^ static_cast<unsigned char>(bytes[at])) & 0xff] ^ (crc >> 8);
  }
  return ~crc;
}

// ---- Packing.

void start_packing(PackedWriter& writer, std::uint64_t digest) {
  std::string header(packed_magic);
  append_big_endian(header, packed_version, 2);
  append_big_endian(header, digest, 8);
  writer.crc = crc32(writer.crc, header);
  writer.bytes += header;
}

namespace {

// The bits of a stream gather first bit lowest in a 64-bit word, which goes
// out whole; the first bit of each byte is then its highest, so each byte's
// bits are reversed on the way.
std::uint64_t reverse_bits_in_bytes(std::uint64_t word) {
  word = (word >> 1 & 0x5555555555555555) | (word & 0x5555555555555555) << 1;
  word = (word >> 2 & 0x3333333333333333) | (word & 0x3333333333333333) << 2;
  return (word >> 4 & 0x0f0f0f0f0f0f0f0f) | (word & 0x0f0f0f0f0f0f0f0f) << 4;
}

struct BitOut {
  std::uint64_t bits;
  unsigned pending;  // 0 to 63
  char* out;

  // Appends the `size` (at most 64) lowest bits of `value`, lowest first; the
  // bits above them are zero.
  void put(std::uint64_t value, unsigned size) {
    bits |= value << pending;
    const unsigned total = pending + size;
    if (total >= 64) {
      std::uint64_t word = reverse_bits_in_bytes(bits);
      if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
      std::memcpy(out, &word, 8);
      out += 8;
      bits = pending == 0 ? 0 : value >> (64 - pending);
      pending = total - 64;
    } else {
      pending = total;
    }
  }
};

// The lowest `size` bits of `value`, `size` up to 64.
std::uint64_t low(std::uint64_t value, unsigned size) {
  return size >= 64 ? value : value & ((std::uint64_t{1} << size) - 1);
}

#if defined(__SSE2__)
// Packs the bytes from `code` on, 64 at a time while 64 are left: their line
// feeds, the ends of websites, and their '1's as bits, the first byte
// lowest; then the runs between the line feeds as bits, and 3 zero bits for
// each line feed. Moves `code` past them; returns the websites ended.
std::uint64_t pack_64_at_a_time(BitOut& bits, const char*& code, const char* end) {
  const __m128i feed = _mm_set1_epi8('\n');
  std::uint64_t websites = 0;
  while (end - code >= 64) {
    std::uint64_t feeds = 0;
    std::uint64_t ones = 0;
    for (std::size_t i = 0; i < 4; ++i) {
      const __m128i sixteen = _mm_loadu_si128(reinterpret_cast<const __m128i*>(code + 16 * i));
      feeds |=
          static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(sixteen, feed))))
          << (16 * i);
      ones |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(_mm_slli_epi64(sixteen, 7))))
              << (16 * i);
    }
    unsigned done = 0;  // bits of the 64 put
    for (; feeds != 0; feeds &= feeds - 1) {
      const auto at = static_cast<unsigned>(std::countr_zero(feeds));
      const unsigned size = at - done;
      if (size <= 61) {  // the code and its end at once: the bits above the code are zero
        bits.put(low(ones >> done, size), size + 3);
      } else {
        bits.put(low(ones >> done, size), size);
        bits.put(0, 3);
      }
      ++websites;
      done = at + 1;
    }
    if (done < 64) bits.put(ones >> done, 64 - done);
    code += 64;
  }
  return websites;
}
#endif

}  // namespace

void pack_codes(PackedWriter& writer, std::string_view codes) {
  const std::size_t from = writer.bytes.size();
  // At most 3 bits a byte of `codes`, and 8 bytes more.
  writer.bytes.resize(from + codes.size() * 3 / 8 + 16);
  BitOut bits{writer.bits, writer.pending, writer.bytes.data() + from};
  const char* code = codes.data();
  const char* const end = code + codes.size();
#if defined(__SSE2__)
  writer.websites += pack_64_at_a_time(bits, code, end);
#endif
  for (; code < end; ++code) {
    if (*code == '\n') {
      bits.put(0, 3);
      ++writer.websites;
    } else {
      bits.put(static_cast<std::uint64_t>(*code & 1), 1);
    }
  }
  // Whole bytes leave; fewer than 8 bits stay.
  while (bits.pending >= 8) {
    *bits.out++ = static_cast<char>(reverse_bits_in_bytes(bits.bits & 0xff));
    bits.bits >>= 8;
    bits.pending -= 8;
  }
  writer.bits = static_cast<std::uint32_t>(bits.bits);
  writer.pending = bits.pending;
  writer.bytes.resize(static_cast<std::size_t>(bits.out - writer.bytes.data()));
  writer.crc = crc32(writer.crc, std::string_view{writer.bytes}.substr(from));
}

void finish_packing(PackedWriter& writer) {
  const std::size_t from = writer.bytes.size();
  if (writer.pending != 0) {  // the last byte, filled up with zero bits
    writer.bytes.push_back(static_cast<char>(reverse_bits_in_bytes(writer.bits & 0xff)));
    writer.pending = 0;
    writer.bits = 0;
  }
  append_big_endian(writer.bytes, writer.websites, 8);
  writer.crc = crc32(writer.crc, std::string_view{writer.bytes}.substr(from));
  append_big_endian(writer.bytes, writer.crc, 4);
}

// ---- Unpacking.

namespace {

// The 64 bits of `body` from bit `at` on, zero past its end.
std::uint64_t bits_at(std::string_view body, std::size_t at) {
  const std::size_t byte = at / 8;
  const unsigned shift = at % 8;
  if (byte + 9 <= body.size()) {
    const std::uint64_t first = load_big_endian(body.data() + byte);
    return shift == 0 ? first : first << shift | static_cast<unsigned char>(body[byte + 8]) >> (8 - shift);
  }
  std::array<unsigned char, 9> nine{};
  if (byte < body.size())
    std::memcpy(nine.data(), body.data() + byte, std::min<std::size_t>(9, body.size() - byte));
  std::uint64_t first = 0;
  for (std::size_t i = 0; i < 8; ++i) first = first << 8 | nine[i];
  return shift == 0 ? first : first << shift | nine[8] >> (8 - shift);
}

// The zero bits of `body` from bit `at` on, up to bit `end` at most.
std::size_t zeros_from(std::string_view body, std::size_t at, std::size_t end) {
  std::size_t zeros = 0;
  while (at + zeros < end) {
    const std::uint64_t bits = bits_at(body, at + zeros);
    if (bits != 0) return std::min(end - at, zeros + static_cast<std::size_t>(std::countl_zero(bits)));
    zeros += 64;
  }
  return end - at;
}

// Where the stream's byte holding bit `at` of the body stands.
std::uint64_t stream_byte(const PackedReader& reader, std::size_t at) {
  return packed_header_size + reader.body_offset + at / 8;
}

std::string damage(const PackedReader& reader, std::size_t at, std::string_view what) {
  return damaged_problem(stream_byte(reader, at), what);
}

// The first `size` of `bits` as '0' and '1'.
std::string code_of(std::uint64_t bits, std::size_t size) {
  std::string code;
  for (std::size_t i = 0; i < size; ++i) code += (bits >> (63 - i) & 1) != 0 ? '1' : '0';
  return code;
}

// Ends `count` websites, the open one first.
void end_websites(PackedReader& reader, std::uint64_t count, std::string& text) {
  if (count == 0) return;
  for (std::uint64_t i = 0; i < count; ++i) {
    text += reader.website;
    text += '\n';
    reader.website.clear();
  }
  reader.websites += count;
  reader.open = false;
}

// Decodes the body's bits up to bit `end`, which the data goes on past unless
// `last`. Stops, keeping its place, where what follows could change what the
// bits before `end` mean; with `last`, at the final run of zero bits, which
// finish_unpacking ends. A run of zero bits that reaches `end` ends at once
// the websites it ends whatever follows, so that a long run is read once.
std::string decode_bits(PackedReader& reader, const Decoder& decoder, std::size_t end, bool last,
                        std::string& text) {
  // Past `end` the bits read as zero: there the trailer stands, or nothing.
  const std::string_view body = std::string_view{reader.body}.substr(0, end / 8);
  std::size_t& at = reader.at;
  while (at < end) {
    const std::uint64_t bits = bits_at(body, at);
    if (bits >> 63 == 0) {
      // A run of zero bits: after a code word, or at the start of the stream.
      const std::size_t zeros = zeros_from(body, at, end);
      if (at + zeros == end) {
        if (last) return "";
        // Whatever follows, the run ends (zeros - 7) / 3 websites at least:
        // the final run may hold 7 filling bits.
        const std::size_t ended = zeros >= 10 ? (zeros - 7) / 3 : 0;
        end_websites(reader, ended, text);
        at += 3 * ended;
        return "";
      }
      if (reader.open && zeros == 2) {  // between two code words
        at += 2;
        continue;
      }
      if (zeros % 3 != 0) return damage(reader, at, zero_run_problem(zeros));
      end_websites(reader, zeros / 3, text);
      at += zeros;
      continue;
    }
    // A code word: its end is where two zero bits follow.
    const std::uint64_t zero = ~bits;
    const std::uint64_t pairs = zero & zero << 1;
    std::size_t size = 63;
    if (pairs != 0) {
      size = static_cast<std::size_t>(std::countl_zero(pairs));
    } else if ((bits & 1) != 0 || (bits_at(body, at + 1) & 1) != 0) {  // longer than any code word
      if (!last && at + 65 > end) return "";
      return damage(reader, at, no_pattern_problem(code_of(bits, 64), true));
    }
    if (!last && at + size + 2 > end) return "";
    const std::uint32_t index = find_code(decoder, bits >> (64 - size), size);
    if (index == 0) return damage(reader, at, no_pattern_problem(code_of(bits, size)));
    reader.website += decoder.patterns[index - 1];
    reader.open = true;
    at += size;
  }
  return "";
}

// Takes the bytes before `keep` out of the CRC still to compute and, when
// many are decoded, out of the body.
void settle(PackedReader& reader, std::size_t keep) {
  if (reader.body_offset + keep > reader.crc_bytes) {
    const std::size_t from = reader.crc_bytes - reader.body_offset;
    reader.crc = crc32(reader.crc, std::string_view{reader.body}.substr(from, keep - from));
    reader.crc_bytes = reader.body_offset + keep;
  }
  const std::size_t decoded = reader.at / 8;
  if (decoded >= (std::size_t{1} << 16) && decoded * 2 >= reader.body.size()) {
    reader.body.erase(0, decoded);
    reader.body_offset += decoded;
    reader.at -= decoded * 8;
  }
}

}  // namespace

std::string unpack(PackedReader& reader, const Decoder& decoder, std::string_view bytes, std::string& text) {
  if (reader.header.size() < packed_header_size) {
    const std::size_t taken = std::min(bytes.size(), packed_header_size - reader.header.size());
    reader.header.append(bytes.substr(0, taken));
    bytes.remove_prefix(taken);
    const std::string_view header = reader.header;
    const std::size_t magic = std::min(header.size(), packed_magic.size());
    if (header.substr(0, magic) != packed_magic.substr(0, magic)) return std::string(not_a_packed_stream);
    if (header.size() < packed_header_size) return "";
    const auto version = static_cast<unsigned>(read_big_endian(header.substr(6, 2)));
    if (version != packed_version) return other_version_problem(version, packed_version);
    if (read_big_endian(header.substr(8, 8)) != reader.digest) return std::string(other_code_map);
    reader.crc = crc32(0, header);
  }
  reader.body.append(bytes);
  // The last bytes may be the trailer.
  if (reader.body.size() <= packed_trailer_size) return "";
  const std::size_t end = reader.body.size() - packed_trailer_size;
  std::string wrong = decode_bits(reader, decoder, end * 8, false, text);
  if (wrong.empty()) settle(reader, end);
  return wrong;
}

std::string finish_unpacking(PackedReader& reader, const Decoder& decoder, std::string& text) {
  if (reader.header.size() < packed_header_size) {
    return std::string(reader.header.empty() ? not_a_packed_stream : stream_ends_early);
  }
  if (reader.body.size() < packed_trailer_size) return std::string(stream_ends_early);
  const std::size_t end = reader.body.size() - packed_trailer_size;
  std::string wrong = decode_bits(reader, decoder, end * 8, true, text);
  if (!wrong.empty()) return wrong;
  settle(reader, end + 8);
  const std::string_view trailer = std::string_view{reader.body}.substr(end);
  if (read_big_endian(trailer.substr(8, 4)) != reader.crc) return std::string(checksum_differs);
  // The final run: three zero bits for each website still to end, then
  // fewer than eight that fill the last byte.
  const std::uint64_t counted = read_big_endian(trailer.substr(0, 8));
  const std::size_t zeros = end * 8 - reader.at;
  const std::uint64_t to_end = counted - std::min(counted, reader.websites);
  if (counted < reader.websites || (reader.open && to_end == 0) || to_end > zeros / 3 ||
      zeros - 3 * to_end >= 8) {
    return website_count_problem(counted);
  }
  end_websites(reader, to_end, text);
  return "";
}

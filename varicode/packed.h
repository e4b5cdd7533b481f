// The packed stream: what encode writes as text, as bits, eight to a byte.
//
// A stream is a header, a body and a trailer:
//   header, 16 bytes: the magic number 89 56 43 50 0D 0A ("\x89VCP\r\n": a
//     byte past ASCII and a line end, so that a stream sent as text is seen
//     to be damaged), the format version as 2 bytes, most significant first
//     (1), and the digest of the code map's bytes as 8 bytes, most significant
//     first (64-bit FNV-1a);
//   body: for each website its code, the code words joined by "00" as in the
//     text form, then "000", its end; the bits most significant first, the
//     last byte filled up with zero bits;
//   trailer, 12 bytes: the number of websites as 8 bytes and the CRC-32 of
//     every byte before it (the header, the body and the count) as 4 bytes,
//     most significant first.
// A stream of W websites whose codes hold B bits is 16 + ceil((B + 3W) / 8)
// + 12 bytes long.
//
// A code word begins and ends with 1 and holds no "00", so a website's bits
// never hold "000": after a 1, a run of two zero bits joins two code words,
// a run of 3k zero bits ends k websites (k - 1 of them empty), a run of one
// zero bit lies inside a code word, and any other run is damage. From any
// byte, the next run of three zero bits after a 1 ends a website. Only the
// last run is longer by the filling bits, which the count of websites in the
// trailer tells apart.
//
// Tested by packed_test.cpp; fuzzed by fuzz/packed_fuzz.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "codec.h"

inline constexpr std::string_view packed_magic{"\x89VCP\r\n", 6};
inline constexpr std::uint16_t packed_version = 1;
inline constexpr std::size_t packed_header_size = 16;
inline constexpr std::size_t packed_trailer_size = 12;

// The 64-bit FNV-1a digest of `bytes`, which a stream holds of its code map;
// given the digest of the bytes before them, that of the whole.
inline constexpr std::uint64_t empty_map_digest = 0xcbf29ce484222325;
std::uint64_t map_digest(std::string_view bytes, std::uint64_t digest = empty_map_digest);

// The number that `bytes` (at most 8) hold, most significant first.
std::uint64_t read_big_endian(std::string_view bytes);

// The CRC-32 (as of zlib and Ethernet) of bytes that follow those whose CRC
// is `crc` (0 for none).
std::uint32_t crc32(std::uint32_t crc, std::string_view bytes);

// Packs codes as a stream. start_packing writes the header; pack_codes the
// websites of text-form codes ('0' and '1', each website's ending in a line
// feed); finish_packing the last byte and the trailer. Each appends to
// `bytes`, which the caller may take and empty between the calls.
struct PackedWriter {
  std::string bytes;
  std::uint64_t websites = 0;
  std::uint32_t crc = 0;   // of every byte appended so far
  std::uint32_t bits = 0;  // the last `pending` bits written, not a whole byte yet, the first lowest
  unsigned pending = 0;    // 0 to 7
};

void start_packing(PackedWriter& writer, std::uint64_t digest);
void pack_codes(PackedWriter& writer, std::string_view codes);
void finish_packing(PackedWriter& writer);

// Reads a stream given in pieces of any size, and decodes its websites: each
// call appends to `text` the patterns of each website whose end it has seen,
// and a line feed. A return other than "" tells what is wrong with the
// stream (see packed_problem); nothing more is to be given then.
struct PackedReader {
  std::uint64_t digest = 0;       // of the code map that decodes it
  std::string header;             // while shorter than a header
  std::string body;               // the bytes read and not yet decoded, the trailer perhaps among them
  std::uint64_t body_offset = 0;  // where in the stream body[0] stands
  std::size_t at = 0;             // the bit of body where decoding goes on
  bool open = false;              // whether a website has code words before `at`
  std::string website;            // the patterns of the open website
  std::uint64_t websites = 0;     // ended so far
  std::uint64_t crc_bytes = 0;    // bytes in `crc`
  std::uint32_t crc = 0;
};

std::string unpack(PackedReader& reader, const Decoder& decoder, std::string_view bytes, std::string& text);

// At the end of the stream: checks the trailer and ends the last websites.
std::string finish_unpacking(PackedReader& reader, const Decoder& decoder, std::string& text);

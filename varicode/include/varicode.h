/* varicode.h: codes websites with a code map, as the varicode program does.
 *
 * A code map is opened from a directory that holds it and the definition
 * files it was made from: "map_varicodes.txt", "patterns_valid_chars.txt",
 * "patterns_recurrent.txt" and "patterns_start.txt" (a missing definition
 * file reads as empty, as it does for the programs). A website is coded as
 * `varicode encode` codes a line: trimmed, its longest start pattern left out
 * (start patterns are not coded, so they do not come back), then split into
 * tokens, each written as its code word, the code words joined by "00". The
 * code comes as text ('0' and '1' characters) or packed (the same bits, eight
 * to a byte, the first in the most significant bit, the last byte filled up
 * with zero bits), and decodes back to the website's tokens.
 *
 * Every function but varicode_close and varicode_version returns VARICODE_OK
 * or a negative status, and then, when `error` is not NULL, puts in it a
 * message that tells what went wrong, ready to print. The library never
 * writes to standard output or error and never ends the process. An opened
 * map is never changed by the calls that code with it: many threads may code
 * with one map at once.
 *
 * Outputs go to buffers of the caller: a call writes into `out` only when the
 * whole output fits in `capacity` bytes, and always tells in `*size` (when
 * `size` is not NULL) how many it takes, so that a call with a capacity of 0
 * asks for the size; `out` may be NULL then, and only then. Text outputs get
 * no terminating NUL.
 */
#ifndef VARICODE_H
#define VARICODE_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#define VARICODE_VERSION_MAJOR 1
#define VARICODE_VERSION_MINOR 0
#define VARICODE_VERSION_PATCH 0

enum varicode_status {
  VARICODE_OK = 0,
  VARICODE_FAILED = -1, /* the message tells why */
  VARICODE_NO_ROOM = -2 /* the output takes more than `capacity`; `*size` tells how much */
};

typedef struct varicode_error {
  char message[512]; /* NUL-terminated; cut short when longer */
} varicode_error;

typedef struct varicode_map varicode_map;

/* The library's version, "MAJOR.MINOR.PATCH". */
const char* varicode_version(void);

/* Opens the code map of `directory` (NULL or "" for the working directory)
 * into `*map`, to be closed with varicode_close. Fails when a file cannot be
 * read, when the map holds a line that is not a code word, a space and a
 * bracketed pattern, or when memory runs out. */
int varicode_open(const char* directory, varicode_map** map, varicode_error* error);

/* Frees an opened map; NULL is ignored. */
void varicode_close(varicode_map* map);

/* Encodes `website` (`length` bytes, no line feed) as text: `*size` bytes of
 * '0' and '1'. Fails when a token of it has no code word or a byte of it is
 * not valid, since it would not come back. */
int varicode_encode_text(const varicode_map* map, const char* website, size_t length, char* out,
                         size_t capacity, size_t* size, varicode_error* error);

/* Encodes `website` as packed bits: `*bits` bits in (`*bits` + 7) / 8 bytes
 * of `out`, which `capacity` must hold. */
int varicode_encode_packed(const varicode_map* map, const char* website, size_t length, unsigned char* out,
                           size_t capacity, size_t* bits, varicode_error* error);

/* Decodes the text code `code` (`length` bytes of '0' and '1') into
 * `*size` bytes of `out`. Fails when it is not a code of this map. */
int varicode_decode_text(const varicode_map* map, const char* code, size_t length, char* out, size_t capacity,
                         size_t* size, varicode_error* error);

/* Decodes `bits` packed bits of `code` into `*size` bytes of `out`. */
int varicode_decode_packed(const varicode_map* map, const unsigned char* code, size_t bits, char* out,
                           size_t capacity, size_t* size, varicode_error* error);

#ifdef __cplusplus
}
#endif

#endif /* VARICODE_H */

/* embed.c: codes a few websites with libvaricode and decodes them back.
 *
 *   cc embed.c $(pkg-config --cflags --libs varicode) -o embed
 *   ./embed DIRECTORY [WEBSITE]...
 *
 * DIRECTORY holds map_varicodes.txt and the definition files it was made
 * from (examples/run.sh leaves them in build/release/example). Each website
 * is printed with its code as text, the size of its packed code, and what
 * both decode to; the exit status is 1 when anything fails. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <varicode.h>

static int code_one(const varicode_map* map, const char* website) {
  varicode_error error;
  size_t length = strlen(website);
  size_t size = 0;
  size_t bits = 0;
  /* A first call with no room asks how much the code takes. */
  int status = varicode_encode_text(map, website, length, NULL, 0, &size, &error);
  if (status == VARICODE_FAILED) {
    fprintf(stderr, "%s\n", error.message);
    return 1;
  }
  char* text = malloc(size + 1);
  unsigned char* packed = malloc(size / 8 + 1);
  char* back = malloc(length + 1);
  char* back_packed = malloc(length + 1);
  size_t back_size = 0;
  size_t back_packed_size = 0;
  int failed = text == NULL || packed == NULL || back == NULL || back_packed == NULL;
  if (!failed &&
      (varicode_encode_text(map, website, length, text, size, &size, &error) != VARICODE_OK ||
       varicode_encode_packed(map, website, length, packed, size / 8 + 1, &bits, &error) != VARICODE_OK ||
       varicode_decode_text(map, text, size, back, length, &back_size, &error) != VARICODE_OK ||
       varicode_decode_packed(map, packed, bits, back_packed, length, &back_packed_size, &error) !=
           VARICODE_OK)) {
    fprintf(stderr, "%s\n", error.message);
    failed = 1;
  }
  if (!failed) {
    printf("%s\n  text code: %.*s\n  packed: %zu bits in %zu bytes\n  decoded: %.*s | %.*s\n", website,
           (int)size, text, bits, (bits + 7) / 8, (int)back_size, back, (int)back_packed_size, back_packed);
    failed = back_size != back_packed_size || memcmp(back, back_packed, back_size) != 0;
  }
  free(text);
  free(packed);
  free(back);
  free(back_packed);
  return failed;
}

int main(int argc, char** argv) {
  static const char* const samples[] = {"google.com", "wikipedia.org", "example.net"};
  varicode_error error;
  varicode_map* map = NULL;
  if (varicode_open(argc > 1 ? argv[1] : ".", &map, &error) != VARICODE_OK) {
    fprintf(stderr, "%s\n", error.message);
    return 1;
  }
  printf("libvaricode %s\n", varicode_version());
  int failed = 0;
  if (argc > 2) {
    for (int i = 2; i < argc; ++i) failed |= code_one(map, argv[i]);
  } else {
    for (size_t i = 0; i < sizeof samples / sizeof samples[0]; ++i) failed |= code_one(map, samples[i]);
  }
  varicode_close(map);
  return failed;
}

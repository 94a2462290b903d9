/* The three helpers libsodium's Ed25519 verification calls, written here so that the program links only
   the verification files and none of the library's start-up or random source. Constant time like the
   originals: no early exit on the first differing byte. */
#include <stddef.h>

void sodium_memzero(void *pnt, size_t len) {
  volatile unsigned char *p = (volatile unsigned char *)pnt;
  size_t i;
  for (i = 0; i < len; i++) p[i] = 0;
}

/* 0 when the len bytes at a and b are equal, -1 otherwise. */
int sodium_memcmp(const void *a, const void *b, size_t len) {
  const volatile unsigned char *x = (const volatile unsigned char *)a;
  const volatile unsigned char *y = (const volatile unsigned char *)b;
  unsigned int diff = 0;
  size_t i;
  for (i = 0; i < len; i++) diff |= (unsigned int)(x[i] ^ y[i]);
  return diff == 0 ? 0 : -1;
}

/* 1 when all len bytes are zero, 0 otherwise. */
int sodium_is_zero(const unsigned char *n, const size_t len) {
  unsigned int any = 0;
  size_t i;
  for (i = 0; i < len; i++) any |= n[i];
  return any == 0 ? 1 : 0;
}

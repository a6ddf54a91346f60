// Ordella_Seed: deciphers the body of a gateway frame whose cipher flag is "S", in place.
// Exported by name from libOrdella_Seed.so. The cipher, the body layout and where the key comes
// from are described in seed_cipher.h.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// `body` is the address of byte 10 of the frame (its message code), `frame_length` the address
// of the frame's byte count from STX: through the check byte when `tail` is 1, through ETX when
// `tail` is 0. `mode` 0 deciphers; it is the only mode (the hub never enciphers).
//
// On success the plain body is written from `body`, followed by ETX and, when `tail` is 1, a
// zero byte in the place of the check byte; the bytes freed behind it are cleared,
// *frame_length becomes the plain frame's count and 1 is returned.
//
// This call touches only the bytes from `body` on. The bytes before it (cipher flag, length
// field) and the check byte, which covers them, are the caller's to bring up to date: set the
// cipher flag to "X", write the length field for the new count and compute the check byte.
//
// It returns 0 and leaves the frame unchanged when an argument is null or out of range, ETX is
// not where the count puts it, the enciphered body is not a whole number of 16-byte blocks (at
// least two), the padding is wrong (wrong key or damaged data), the configured key is malformed,
// or the cipher library cannot be used.
int Ordella_Crypt(unsigned char* body, int* frame_length, int mode, int tail);

#ifdef __cplusplus
}  // extern "C"
#endif

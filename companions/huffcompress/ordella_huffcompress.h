// Ordella_HuffCompress: compresses the signature image before it is sent to the terminal.
// Exported by name from libOrdella_HuffCompress.so. The format (canonical Huffman, or the input
// stored as it is when that is shorter) is described in huff_format.h; huff_decoder.h reads it.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// The room the output buffer of Ordella_Compress must have for `length` input bytes: the input
// and a seven-byte header (the stored form of input that Huffman coding cannot shorten).
#define ORDELLA_COMPRESS_BOUND(length) ((length) + 7)

// Compresses `length` bytes of `input` into `output`, which must hold
// ORDELLA_COMPRESS_BOUND(length) bytes. Returns the number of bytes written: never more than
// that bound, and fewer whenever Huffman coding shortens the input. Returns 0 and writes nothing
// when a pointer is null or the length is negative or too large for the format.
int Ordella_Compress(const unsigned char* input, int length, unsigned char* output);

#ifdef __cplusplus
}  // extern "C"
#endif

/* The plain stdio LZHUF coder the benchmark measures against. Not thread-safe:
 * its state is global, as in its time. */
#ifndef REFERENCE_LZHUF_H
#define REFERENCE_LZHUF_H
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Codes the whole of in (a seekable stream) into out as a bare body: the
 * 4-byte length, then the code. Returns the bytes written. */
long RefEncode(FILE *in, FILE *out);
/* Expands a bare body from in into out. Returns the bytes written, -1 when
 * the length is missing. */
long RefDecode(FILE *in, FILE *out);

#ifdef __cplusplus
}
#endif
#endif

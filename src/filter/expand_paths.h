// The two ways expand_block can do its work. Both have exactly its contract
// and differ only in how many bytes they examine per step; expand_block runs
// the fastest one the target has, and the tests hold each against the same
// reference.
#ifndef PADCOLS_EXPAND_PATHS_H
#define PADCOLS_EXPAND_PATHS_H

// Machine words, on any target.
void expand_block_portable();

#if defined(__SSE2__) && !defined(PADCOLS_NO_SSE2)
#define PADCOLS_HAVE_SSE2 1
// SSE2 vectors, where the target has them.
void expand_block_sse2();
#else
#define PADCOLS_HAVE_SSE2 0
#endif

#endif

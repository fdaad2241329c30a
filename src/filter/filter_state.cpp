#include "filter_state.h"

std::int32_t tab_stop = 8;
std::int32_t cols_left = 8;

// Both blocks start on a cache line: a whole 64-byte store or load from a
// block's start, or a multiple of 64 bytes from it, then touches one line.
alignas(64) unsigned char in_buf[BLOCK_SIZE];
unsigned char *in_pos = in_buf + BLOCK_SIZE;

alignas(64) unsigned char out_buf[BLOCK_SIZE];
unsigned char *out_pos = out_buf;

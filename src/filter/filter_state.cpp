#include "filter_state.h"

std::int32_t tab_stop = 8;
std::int32_t cols_left = 8;

unsigned char in_buf[BLOCK_SIZE];
unsigned char *in_pos = in_buf + BLOCK_SIZE;

unsigned char out_buf[BLOCK_SIZE];
unsigned char *out_pos = out_buf;

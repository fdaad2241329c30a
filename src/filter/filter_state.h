// The filter state and the two operations on it.
//
// The state is one process-wide record in static storage. The front end sets
// tab_stop and the first value of cols_left; after that only expand_block and
// pump touch it. Both blocks have a fixed end: the unread input always runs
// from in_pos to the end of in_buf, and the pending output from the start of
// out_buf to out_pos.
#ifndef PADCOLS_FILTER_STATE_H
#define PADCOLS_FILTER_STATE_H

#include <cstddef>
#include <cstdint>

// Size of each block, and of every read request.
constexpr std::size_t BLOCK_SIZE = 16384;

// The widest tab stop the argument may set. The vector expander's column
// arithmetic is exact only up to a bound that takes this into account; it
// checks that at compile time.
constexpr std::int32_t MAX_TAB_STOP = 9999;

// Columns between tab stops, 1 to MAX_TAB_STOP.
extern std::int32_t tab_stop;

// Spaces a tab written at the current output column would produce:
// tab_stop minus (column modulo tab_stop), always 1 to tab_stop.
extern std::int32_t cols_left;

// Input block; empty when in_pos is at its end. A short read is moved so that
// it ends at the end of the block: the block's end is the only end-of-data mark.
extern unsigned char in_buf[BLOCK_SIZE];
extern unsigned char *in_pos;

// Output block; empty when out_pos is at its start, full at its end.
extern unsigned char out_buf[BLOCK_SIZE];
extern unsigned char *out_pos;

// The blocks' ends: where the unread input ends, and where the output block
// is full.
constexpr unsigned char *in_end = in_buf + BLOCK_SIZE;
constexpr unsigned char *out_end = out_buf + BLOCK_SIZE;

// Copies input to output, turning each tab into spaces up to the next stop,
// until the input block is empty or the output block is full. A tab cut short
// by a full output block stays unread, with cols_left holding the spaces still
// owed, so the next call finishes it.
void expand_block();

// Moves all of standard input through expand_block to standard output, one
// block at a time. Returns once everything has been written; on a read or
// write failure it reports through fatal and does not return.
void pump();

#endif

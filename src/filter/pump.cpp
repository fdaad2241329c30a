#include "filter_state.h"

#include "front/fatal.h"
#include "front/platform.h"

#include <cstring>

// Fills the empty input block from standard input. A short read means the end
// of the input or a failed read: its bytes are moved to end at the end of the
// block, where the expander looks for the end of the data. Returns false when
// a read failed.
static bool refill()
{
    unsigned char *const in_end = in_buf + BLOCK_SIZE;
    bool failed = false;
    const std::size_t n = read_block(in_buf, BLOCK_SIZE, failed);
    if (n == BLOCK_SIZE) {
        in_pos = in_buf;
        return true;
    }
    if (failed && n == 0)
        fatal("Error reading"); // nothing gathered, nothing to write first
    in_pos = in_end - n;
    std::memmove(in_pos, in_buf, n); // overlaps when n > BLOCK_SIZE / 2
    return !failed;
}

void pump()
{
    bool read_failed = false;
    for (;;) {
        // Refill only once the input is used up. The output block is empty
        // then, so a failed read never discards expanded output. The bytes a
        // failed read gathered are expanded and written like any others; the
        // failure is reported once they are used up, here.
        if (in_pos == in_buf + BLOCK_SIZE) {
            if (read_failed)
                fatal("Error reading");
            read_failed = !refill();
        }

        expand_block();

        const std::size_t n = static_cast<std::size_t>(out_pos - out_buf);
        if (n == 0)
            return; // nothing left to expand: the input has ended
        out_pos = out_buf;
        if (write_block(out_buf, n) != n)
            fatal("Error writing");
    }
}

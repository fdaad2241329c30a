#include "filter_state.h"

#include "front/fatal.h"

#include <cstdio>
#include <cstring>

// Fills the empty input block from standard input. A short read means the end
// of the input (or an error): its bytes are moved to end at the end of the
// block, where the expander looks for the end of the data.
static void refill()
{
    unsigned char *const in_end = in_buf + BLOCK_SIZE;
    const std::size_t n = std::fread(in_buf, 1, BLOCK_SIZE, stdin);
    if (n == BLOCK_SIZE) {
        in_pos = in_buf;
        return;
    }
    if (std::ferror(stdin))
        fatal("Error reading");
    in_pos = in_end - n;
    std::memmove(in_pos, in_buf, n); // overlaps when n > BLOCK_SIZE / 2
}

void pump()
{
    for (;;) {
        // Refill only once the input is used up. The output block is empty
        // then, so a failed read never discards expanded output.
        if (in_pos == in_buf + BLOCK_SIZE)
            refill();

        expand_block();

        const std::size_t n = static_cast<std::size_t>(out_pos - out_buf);
        if (n == 0)
            return; // nothing left to expand: the input has ended
        out_pos = out_buf;
        if (std::fwrite(out_buf, 1, n, stdout) != n)
            fatal("Error writing");
    }
}

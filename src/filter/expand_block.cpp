#include "filter_state.h"

void expand_block()
{
    // Work on local copies; the state is stored back once, at the end.
    unsigned char *in = in_pos;
    unsigned char *const in_end = in_buf + BLOCK_SIZE;
    unsigned char *out = out_pos;
    unsigned char *const out_end = out_buf + BLOCK_SIZE;
    std::int32_t left = cols_left;

    while (in != in_end && out != out_end) {
        const unsigned char c = *in;
        if (c == '\t') {
            do {
                *out++ = ' ';
                --left;
            } while (left != 0 && out != out_end);
            if (left != 0)
                break; // output full mid-tab: the tab stays the next unread byte
            left = tab_stop;
            ++in;
        } else {
            *out++ = c;
            ++in;
            if (c == '\n' || c == '\r' || --left == 0)
                left = tab_stop;
        }
    }

    in_pos = in;
    out_pos = out;
    cols_left = left;
}

// The byte-at-a-time step that every path falls back on near the ends of the
// blocks. Each source file that includes this gets its own copy (internal
// linkage), compiled for that file's instruction set only.
#ifndef PADCOLS_EXPAND_STEP_H
#define PADCOLS_EXPAND_STEP_H

#include "filter_state.h"

#include <cstring>

namespace {

unsigned char *const in_end = in_buf + BLOCK_SIZE;
unsigned char *const out_end = out_buf + BLOCK_SIZE;

// Handles bytes until one tab, CR or LF has been handled or a block end is
// reached. Returns false when the output block filled in the middle of a tab,
// which then stays the next unread byte with left holding the spaces still
// owed.
inline bool step_to_special(unsigned char *&in, unsigned char *&out, std::int32_t &left,
                            std::int32_t stop)
{
    while (in != in_end && out != out_end) {
        const unsigned char c = *in;
        if (c == '\t') {
            std::size_t n = static_cast<std::size_t>(left);
            const std::size_t room = static_cast<std::size_t>(out_end - out);
            if (n > room)
                n = room;
            std::memset(out, ' ', n);
            out += n;
            left -= static_cast<std::int32_t>(n);
            if (left != 0)
                return false;
            left = stop;
            ++in;
            return true;
        }
        *out++ = c;
        ++in;
        if (c == '\n' || c == '\r') {
            left = stop;
            return true;
        }
        if (--left == 0)
            left = stop;
    }
    return true;
}

} // namespace

#endif

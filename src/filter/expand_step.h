// What every path of expand_block shares: the byte-at-a-time step that each
// falls back on near the ends of the blocks, and the check of the contract
// each keeps when it returns. Each source file that includes this gets its
// own copy (internal linkage), compiled for that file's instruction set only.
#ifndef PADCOLS_EXPAND_STEP_H
#define PADCOLS_EXPAND_STEP_H

#include "filter_state.h"

#include <cassert>
#include <cstddef>
#include <cstring>

namespace {

// Handles bytes until one tab, CR or LF has been handled or a block end is
// reached. Returns false when the output block filled in the middle of a tab,
// which then stays the next unread byte with left holding the spaces still
// owed.
inline bool step_to_special(unsigned char *&in, unsigned char *&out, std::int32_t &left,
                            std::int32_t stop) noexcept
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

// Where a call of expand_block starts, for the check at its end.
struct CallStart {
    const unsigned char *in;
    const unsigned char *out;
    std::int32_t left;
};

// The filter state as a call finds it, which must be one it can work from.
inline CallStart start_call() noexcept
{
    // GCOVR_EXCL_BR_START: assertions
    assert(tab_stop >= 1 && tab_stop <= MAX_TAB_STOP);
    assert(cols_left >= 1 && cols_left <= tab_stop);
    assert(in_pos >= in_buf && in_pos <= in_end && out_pos >= out_buf && out_pos <= out_end);
    // GCOVR_EXCL_BR_STOP
    return CallStart{in_pos, out_pos, cols_left};
}

// Where the last line of the bytes from begin to end starts: after their
// last CR or LF, or at begin. The LFs are found with memchr, then the CRs
// after the last of them (one before it ends no line that lasts): a look at
// every byte took more than half of fuzz_expand's time, on the long runs of
// spaces that wide tab stops make.
inline const unsigned char *last_line(const unsigned char *begin, const unsigned char *end) noexcept
{
    const unsigned char *line = begin;
    // An array, not an initializer_list: the vector objects that include
    // this must define no function the rest of the program could call.
    static const unsigned char line_ends[] = {'\n', '\r'};
    for (const unsigned char line_end : line_ends)
        while (const void *p = std::memchr(line, line_end, static_cast<std::size_t>(end - line)))
            line = static_cast<const unsigned char *>(p) + 1;
    return line;
}

// cols_left as the output of the call that started at start says it must be:
// every output byte is one column, and the column restarts after a CR or LF.
// Without a line end in this call's output, the column goes on from the one
// cols_left gave at the start.
inline std::int32_t left_from_output(const CallStart &start) noexcept
{
    const unsigned char *const line = last_line(start.out, out_pos);
    const std::ptrdiff_t column =
        (line == start.out ? tab_stop - start.left : 0) + (out_pos - line);
    return static_cast<std::int32_t>(tab_stop - column % tab_stop);
}

// The contract of expand_block, checked where assertions are compiled in: it
// returned only at a block end, moved neither position back, and left
// cols_left where the column its output reached puts it.
inline void end_call([[maybe_unused]] const CallStart &start) noexcept
{
    // GCOVR_EXCL_BR_START: assertions
    assert(in_pos == in_end || out_pos == out_end);
    assert(in_pos >= start.in && out_pos >= start.out);
    assert(cols_left == left_from_output(start));
    // GCOVR_EXCL_BR_STOP
}

} // namespace

#endif

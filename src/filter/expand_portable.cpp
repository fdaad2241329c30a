// The path for any CPU: the input goes a machine word at a time. Every word
// is stored whole. A word without a tab, CR or LF moves the column by its
// width; one with such a byte moves in and out to its first one and the
// column by the count before it, both remainders modulo the tab stop worked
// out once per call. A CR or LF is then passed over, being stored already,
// and a run of tabs is counted a word at a time and filled with spaces a word
// at a time. Near the ends of the blocks, and where the output block cannot
// take a single whole tab of a run, the shared byte step does the work.
#include "expand_paths.h"
#include "expand_step.h"

#include <cstring>

namespace {

using word = std::size_t;
constexpr std::size_t W = sizeof(word);
constexpr word ones = ~word(0) / 0xff; // 0x0101...01
constexpr word lows = ones * 0x7f;     // 0x7f7f...7f
constexpr word highs = ones * 0x80;    // 0x8080...80
constexpr word tabs = ones * '\t';

// The high bit of each byte is set exactly where that byte of x is not zero,
// and every other bit is clear: adding 0x7f to the low seven bits carries
// into the high bit exactly when one of them is set, and never past it.
inline word nonzero_bytes(word x) noexcept
{
    return (((x & lows) + lows) | x) & highs;
}

// The high bit of each byte is set exactly where that byte of w is a tab, CR
// or LF. w | 0x04 is 0x0d exactly when w is 0x09 or 0x0d, so two tests
// against zero cover the three values.
inline word special_bytes(word w) noexcept
{
    return (nonzero_bytes((w | ones * 0x04) ^ ones * '\r') & nonzero_bytes(w ^ ones * '\n')) ^
           highs;
}

// The place in memory, 0 to W - 1, of the first byte of a word whose high bit
// flags holds: the lowest byte on a little-endian CPU, the highest on a
// big-endian one. flags must not be zero.
inline std::size_t first_flagged(word flags) noexcept
{
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    return static_cast<std::size_t>(__builtin_ctzll(flags)) / 8;
#elif __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    // __builtin_clzll counts in 64 bits, which a narrower word does not fill.
    return static_cast<std::size_t>(__builtin_clzll(flags)) / 8 - (8 - W);
#else
#error "the byte order is neither little-endian nor big-endian"
#endif
}

// Expands the run of tabs at in, whose first tab owes left spaces. It counts
// the tabs a word at a time, stopping at the first other byte, where fewer
// than W input bytes are left, or once the output block cannot take another
// whole tab, and fills their spaces with whole word stores that stay inside
// the output block. Returns false, having changed nothing, where it cannot do
// a single tab: the byte step then finishes the one at in.
inline bool expand_run(unsigned char *&in, unsigned char *&out, std::int32_t &left,
                       std::int32_t stop) noexcept
{
    const std::size_t step = static_cast<std::size_t>(stop);
    const std::size_t first = static_cast<std::size_t>(left);
    // The spaces the word stores may reach: the room, down to whole words.
    const std::size_t room = static_cast<std::size_t>(out_end - out) & ~(W - 1);
    std::size_t n = 0;           // tabs counted
    std::size_t upto = first;    // spaces of one tab more than that
    const unsigned char *p = in; // the next byte to count
    while (upto <= room && static_cast<std::size_t>(in_end - p) >= W) {
        word v;
        std::memcpy(&v, p, W);
        if (v != tabs) {
            n += first_flagged(nonzero_bytes(v ^ tabs));
            break;
        }
        n += W;
        p += W;
        upto += W * step;
    }
    if (n == 0)
        return false;
    std::size_t spaces = first + (n - 1) * step;
    if (spaces > room) {
        // The last word counted went past what the output block can take:
        // as many whole tabs as fit (the first did, or n would be 0).
        n = 1 + (room - first) / step;
        spaces = first + (n - 1) * step;
    }
    const word blanks = ones * ' ';
    for (std::size_t i = 0; i < spaces; i += W)
        std::memcpy(out + i, &blanks, W);
    in += n;
    out += spaces;
    left = stop;
    return true;
}

// Moves in and out a word at a time until in passes last, which must leave
// at least a word of both blocks from every place up to it, or a run of tabs
// comes. cols[k] is the columns that k bytes move the column by, modulo the
// stop. Returns true after a run it expanded, whose spaces move out further
// than in, so that the caller works last out again; false at last or at a
// run that it left to the byte step.
inline bool walk_words(unsigned char *&in, unsigned char *&out, std::int32_t &left,
                       std::int32_t stop, const std::int32_t *cols,
                       const unsigned char *last) noexcept
{
    while (in <= last) {
        word w;
        std::memcpy(&w, in, W);
        std::memcpy(out, &w, W);
        const word special = special_bytes(w);
        if (special == 0) {
            in += W;
            out += W;
            left -= cols[W];
            if (left <= 0)
                left += stop;
            continue;
        }
        // The bytes before the first special one are in place already.
        const std::size_t k = first_flagged(special);
        in += k;
        out += k;
        left -= cols[k];
        if (left <= 0)
            left += stop;
        if (*in == '\t')
            return expand_run(in, out, left, stop);
        // A CR or LF, stored with its word: the column restarts.
        ++in;
        ++out;
        left = stop;
    }
    return false;
}

} // namespace

void expand_block_portable()
{
    const CallStart start = start_call();
    unsigned char *in = in_pos;
    unsigned char *out = out_pos;
    std::int32_t left = cols_left;
    const std::int32_t stop = tab_stop;
    std::int32_t cols[W + 1];
    cols[0] = 0;
    for (std::size_t k = 1; k <= W; ++k)
        cols[k] = cols[k - 1] + 1 == stop ? 0 : cols[k - 1] + 1;

    for (;;) {
        // The words go while both blocks have a whole one left.
        const std::size_t in_room = static_cast<std::size_t>(in_end - in);
        const std::size_t out_room = static_cast<std::size_t>(out_end - out);
        const std::size_t room = in_room < out_room ? in_room : out_room;
        if (room >= W && walk_words(in, out, left, stop, cols, in + (room - W)))
            continue;
        if (in == in_end || out == out_end || !step_to_special(in, out, left, stop))
            break;
    }

    in_pos = in;
    out_pos = out;
    cols_left = left;
    end_call(start);
}

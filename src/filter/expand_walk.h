// The vector expander, shared by the source files of each instruction set.
// It works over a segment of the input block at a time, in two steps:
//
//  1. mark: vector compares turn the segment into bitmaps, one bit per byte,
//     of its tabs and of its line ends (CR, LF); from them comes the list of
//     the places where a run of tabs starts;
//  2. walk: for each run of tabs, the text before it is copied 64 bytes at a
//     time and the run's spaces are written with vector stores. The bitmaps
//     give the last line end before the run, so the column needs no look at
//     the bytes in between, and no branch depends on the data.
//
// Stores may go up to 64 bytes past what counts; those bytes lie beyond
// out_pos and are overwritten later, never written out. Where a segment might
// reach the end of the output block, or lies within 64 bytes of the end of
// the input block, every run is checked and copied exactly, and the output
// may fill inside text or inside a run. Input left over that does not fill a
// chunk goes through step_to_special.
//
// Before including this file, a source file defines in an unnamed namespace:
//   mask                    an unsigned integer type, one bit per byte of a chunk
//   mark_chunk(p, t, e)     sets t and e to the tab and line-end bits of the
//                           chunk at p (bit i for byte p[i])
//   copy_64(out, in)        copies 64 bytes
//   spaces_64(out)          stores 64 spaces
//   HAS_POPCNT              whether count_bits(m), the number of bits set in m,
//                           is one instruction (otherwise it is not used)
//   first_bit(m)            the lowest bit set in m; for m == 0, any value
//                           below 2 * CHUNK
// Everything here has internal linkage, so each includer gets a copy built
// for its own instruction set. The bitmaps are read as bytes in places, which
// takes a little-endian CPU, as every x86 is.

#include "expand_step.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

// Positions within a segment, and everything computed from them, in the
// machine's own word.
using offset = std::ptrdiff_t;

// Bytes per chunk, and how many are marked before they are walked.
constexpr offset CHUNK = sizeof(mask) * 8;
constexpr offset SEGMENT = 2048;
constexpr offset SEGMENT_CHUNKS = SEGMENT / CHUNK;
// Run starts listed per chunk without a branch; more take a loop.
constexpr int LISTED = CHUNK / 16;
// Where no line end came before: lower than any column base can be.
constexpr offset NO_LINE_END = -0x10000;

// The scratch of one segment, on the stack of the call.
struct Marks {
    // Tab bits; two zero chunks after the segment end every run there and
    // keep unaligned reads of the bits inside the array.
    mask tabs[SEGMENT_CHUNKS + 2];
    mask eols[SEGMENT_CHUNKS + 1];
    // 1 + the position of the last line end before chunk i, or NO_LINE_END.
    offset eol_before[SEGMENT_CHUNKS + 1];
    // Where each run of tabs starts; runs are at least two bytes apart.
    std::uint16_t starts[SEGMENT / 2 + CHUNK];
    offset runs;
    offset tab_count; // where counting bits is cheap: all the tabs of the segment
};

// The highest bit set in m, for m != 0.
inline offset highest_bit(mask m)
{
    const unsigned zeros = sizeof(mask) == 8
                               ? static_cast<unsigned>(__builtin_clzll(m))
                               : static_cast<unsigned>(__builtin_clz(static_cast<unsigned>(m)));
    return static_cast<offset>(sizeof(mask) * 8 - 1 - zeros);
}

// Marks the first len bytes at seg (whole chunks): first the bitmaps, in a
// pass of vector compares alone, then from them the list of run starts.
inline void mark_segment(const unsigned char *seg, offset len, Marks &m)
{
    const offset chunks = len / CHUNK;
    for (offset c = 0; c < chunks; ++c)
        mark_chunk(seg + c * CHUNK, m.tabs[c], m.eols[c]);
    m.tabs[chunks] = 0;
    m.tabs[chunks + 1] = 0;
    m.eols[chunks] = 0;

    mask carry = 0; // the last byte of the chunk before was a tab
    offset last_eol = NO_LINE_END;
    offset runs = 0, tab_count = 0;
    for (offset c = 0; c < chunks; ++c) {
        const mask tabs = m.tabs[c];
        const mask eols = m.eols[c];
        const offset at = c * CHUNK;
        m.eol_before[c] = last_eol;
        // Chosen without a branch, which line ends in random data would
        // mispredict.
        const offset here = at + highest_bit(eols | 1) + 1;
        const offset some = -static_cast<offset>(eols != 0);
        last_eol = (here & some) | (last_eol & ~some);

        // Starts of runs: tabs whose byte before is not a tab. The first
        // LISTED are written whether there are that many or not: what lies
        // past the count is overwritten by the next chunk or never read.
        mask first = tabs & ~((tabs << 1) | carry);
        carry = tabs >> (CHUNK - 1);
        std::uint16_t *const list = m.starts + runs;
        if (HAS_POPCNT) {
            tab_count += static_cast<offset>(count_bits(tabs));
            runs += static_cast<offset>(count_bits(first));
        }
        for (int i = 0; i < LISTED; ++i) {
            list[i] = static_cast<std::uint16_t>(at + static_cast<offset>(first_bit(first)));
            if (!HAS_POPCNT)
                runs += first != 0;
            first &= first - 1;
        }
        for (int i = LISTED; first != 0; ++i) {
            list[i] = static_cast<std::uint16_t>(at + static_cast<offset>(first_bit(first)));
            if (!HAS_POPCNT)
                ++runs;
            first &= first - 1;
        }
    }
    m.eol_before[chunks] = last_eol;
    m.runs = runs;
    m.tab_count = tab_count;
}

// 1 + the position of the last line end before position p, or NO_LINE_END.
inline offset line_start(const Marks &m, offset p)
{
    const offset c = p / CHUNK;
    const mask below = m.eols[c] & ((mask(1) << (p % CHUNK)) - 1);
    const offset here = c * CHUNK + highest_bit(below | 1) + 1;
    const offset some = -static_cast<offset>(below != 0);
    return (here & some) | (m.eol_before[c] & ~some);
}

// The number of tabs in the run that starts at t. One unaligned read of the
// bits covers runs shorter than CHUNK - 8; longer ones go a chunk at a time.
inline offset run_length(const Marks &m, offset t)
{
    mask window;
    std::memcpy(&window, reinterpret_cast<const unsigned char *>(m.tabs) + t / 8, sizeof window);
    const mask gaps = ~(window >> (t % 8)) | (mask(1) << (CHUNK - 8));
    offset p = t + static_cast<offset>(first_bit(gaps));
    if (p - t < CHUNK - 8)
        return p - t;
    for (;;) {
        const offset s = p % CHUNK;
        const mask rest = ~(m.tabs[p / CHUNK] >> s); // ones above the chunk's end
        const offset k = rest != 0 ? static_cast<offset>(first_bit(rest)) : CHUNK;
        p += k;
        if (s + k < CHUNK)
            return p - t;
    }
}

// x mod stop for 0 <= x < 2^16. For a power of two it is a mask; otherwise,
// with reciprocal = (2^32 - 1) / stop, the quotient taken from the product
// is exact or one too small, which one subtraction mends.
template <bool POWER_OF_TWO>
inline offset mod_stop(offset x, offset stop, std::uint32_t reciprocal)
{
    const std::uint32_t ux = static_cast<std::uint32_t>(x);
    const std::uint32_t ustop = static_cast<std::uint32_t>(stop);
    if (POWER_OF_TWO)
        return static_cast<offset>(ux & (ustop - 1));
    const std::uint32_t q = static_cast<std::uint32_t>((std::uint64_t(ux) * reciprocal) >> 32);
    std::uint32_t r = ux - q * ustop;
    r = r >= ustop ? r - ustop : r;
    return static_cast<offset>(r);
}

// The spaces a tab at position p would make: cols_left there, with base the
// column's base before any line end ahead of p is counted.
template <bool POWER_OF_TWO>
inline std::int32_t left_at(const Marks &m, offset p, offset base, offset stop,
                            std::uint32_t reciprocal)
{
    const offset eol = line_start(m, p);
    base = eol > base ? eol : base;
    const offset col = mod_stop<POWER_OF_TWO>(p - base, stop, reciprocal);
    return static_cast<std::int32_t>(stop - col);
}

// Where the walk of a segment stands.
struct Walk {
    unsigned char *seg; // the segment's first byte
    unsigned char *out;
    offset src;  // the first byte of the segment not yet copied
    offset base; // the column of p is (p - base) mod stop up to the next tab or line end
};

// Copies text bytes from in to out, then writes n spaces after them, both 64
// bytes at a time: each may store up to 63 bytes past its end, which the
// caller has room for. Returns the end of the spaces.
inline unsigned char *put_text_and_spaces(unsigned char *out, const unsigned char *in, offset text,
                                          offset n)
{
    copy_64(out, in);
    for (offset k = 64; k < text; k += 64)
        copy_64(out + k, in + k);
    out += text;
    spaces_64(out);
    for (offset k = 64; k < n; k += 64)
        spaces_64(out + k);
    return out + n;
}

// Writes exactly n spaces, 64 at a time while whole stores fit (the C
// runtime's memset is slow on some systems), the rest with memset.
inline void fill_spaces(unsigned char *out, offset n)
{
    offset k = 0;
    for (; k + 64 <= n; k += 64)
        spaces_64(out + k);
    std::memset(out + k, ' ', static_cast<std::size_t>(n - k));
}

// Walks the runs of a segment. Unless CHECKED, the segment has room for
// everything it can make and 64 readable bytes after it, so nothing is
// checked. CHECKED, each run is walked that way where there is room, and
// otherwise copied exactly; then the output may fill, and false comes back
// with the state set where it did: inside text, or inside a run, on the tab
// that is not finished with the spaces it still owes.
template <bool POWER_OF_TWO, bool CHECKED>
inline bool walk_runs(const Marks &m, Walk &w, unsigned char *&in_ref, std::int32_t &left,
                      offset stop, std::uint32_t reciprocal)
{
    unsigned char *const seg = w.seg;
    unsigned char *out = w.out;
    offset src = w.src;
    offset base = w.base;
    // A run at or before this position leaves 64 readable bytes from its text.
    const offset fast_in = (in_end - seg) - 64;
    // Held here: the stores through out could alias m, and m would be read
    // again on every run.
    const std::uint16_t *const starts = m.starts;
    const offset runs = m.runs;

    for (offset i = 0; i < runs; ++i) {
        const offset t = starts[i];
        const offset eol = line_start(m, t);
        base = eol > base ? eol : base;
        const offset run = run_length(m, t);
        const offset col = mod_stop<POWER_OF_TWO>(t - base, stop, reciprocal);
        const offset n = run * stop - col;
        const offset text = t - src;
        offset room = out_end - out;
        if (!CHECKED || (t <= fast_in && room >= text + n + 64)) {
            out = put_text_and_spaces(out, seg + src, text, n);
        } else {
            if (room < text) {
                // It fills inside the text.
                const offset p = src + room;
                std::memcpy(out, seg + src, static_cast<std::size_t>(room));
                left = left_at<POWER_OF_TWO>(m, p, base, stop, reciprocal);
                in_ref = seg + p;
                w.out = out_end;
                return false;
            }
            std::memcpy(out, seg + src, static_cast<std::size_t>(text));
            out += text;
            room -= text;
            if (room < n) {
                // It fills inside the run: the first tab owes stop - col
                // spaces, every other one stop.
                fill_spaces(out, room);
                const offset first = stop - col;
                if (room < first) {
                    in_ref = seg + t;
                    left = static_cast<std::int32_t>(first - room);
                } else {
                    const offset done = (room - first) / stop;
                    in_ref = seg + t + 1 + done;
                    left = static_cast<std::int32_t>(stop - (room - first - done * stop));
                }
                w.out = out_end;
                return false;
            }
            fill_spaces(out, n);
            out += n;
        }
        src = t + run;
        base = src;
    }
    w.out = out;
    w.src = src;
    w.base = base;
    return true;
}

// Expands one segment of whole chunks from in. Returns false when the output
// block filled, with the state where it did.
template <bool POWER_OF_TWO>
inline bool walk_segment(unsigned char *&in_ref, unsigned char *&out_ref, std::int32_t &left,
                         offset stop, std::uint32_t reciprocal)
{
    unsigned char *const seg = in_ref;
    // Every input byte makes at least one output byte, and a tab at most
    // stop. While the room holds all a segment can make, and 64 bytes more
    // for the stores that run past, its walk needs no checks. Where bits are
    // cheap to count, the segment's tabs give that bound after marking, and
    // up to half the room a segment of ordinary text fits; elsewhere the
    // segment is kept to room / stop, the bound that needs no count. Once
    // that is less than a chunk, it need not be longer than the room.
    offset len = (in_end - seg) / CHUNK * CHUNK;
    len = len < SEGMENT ? len : SEGMENT;
    const offset room = out_end - out_ref;
    const offset cap = (HAS_POPCNT ? room / 2 : (room - 64) / stop) / CHUNK * CHUNK;
    const offset limit = cap >= CHUNK ? cap : (room + CHUNK - 1) / CHUNK * CHUNK;
    len = len < limit ? len : limit;

    Marks m;
    mark_segment(seg, len, m);

    const offset most = HAS_POPCNT ? len + m.tab_count * (stop - 1) : len * stop;
    const bool fast = in_end - (seg + len) >= 64 && room - most >= 64;

    Walk w{seg, out_ref, 0, left - stop};
    if (fast) {
        walk_runs<POWER_OF_TWO, false>(m, w, in_ref, left, stop, reciprocal);
    } else if (!walk_runs<POWER_OF_TWO, true>(m, w, in_ref, left, stop, reciprocal)) {
        out_ref = w.out;
        return false;
    }

    // The text after the last run.
    unsigned char *out = w.out;
    const offset text = len - w.src;
    if (fast) {
        for (offset k = 0; k < text; k += 64)
            copy_64(out + k, seg + w.src + k);
    } else {
        const offset rest = out_end - out;
        if (rest < text) {
            const offset p = w.src + rest;
            std::memcpy(out, seg + w.src, static_cast<std::size_t>(rest));
            left = left_at<POWER_OF_TWO>(m, p, w.base, stop, reciprocal);
            in_ref = seg + p;
            out_ref = out_end;
            return false;
        }
        std::memcpy(out, seg + w.src, static_cast<std::size_t>(text));
    }
    out += text;
    left = left_at<POWER_OF_TWO>(m, len, w.base, stop, reciprocal);
    in_ref = seg + len;
    out_ref = out;
    return true;
}

// The whole of expand_block's work: segments while whole chunks of input
// and some output room remain, then the byte step for what is left.
inline void expand_walk()
{
    unsigned char *in = in_pos;
    unsigned char *out = out_pos;
    std::int32_t left = cols_left;
    const std::int32_t stop = tab_stop;
    const std::uint32_t reciprocal = 0xffffffffu / static_cast<std::uint32_t>(stop);
    const bool power_of_two = (stop & (stop - 1)) == 0;

    for (;;) {
        bool going = true;
        while (going && in_end - in >= CHUNK && out != out_end)
            going = power_of_two ? walk_segment<true>(in, out, left, stop, reciprocal)
                                 : walk_segment<false>(in, out, left, stop, reciprocal);
        if (!going || in == in_end || out == out_end || !step_to_special(in, out, left, stop))
            break;
    }

    in_pos = in;
    out_pos = out;
    cols_left = left;
}

} // namespace

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
// Stores may go up to STORE_SLACK bytes past what counts; those bytes lie
// beyond out_pos and are overwritten later, never written out. Where a
// segment might reach the end of the output block, or lies within
// STORE_SLACK bytes of the end of the input block, every run is checked and
// copied exactly, and the output may fill inside text or inside a run. Input
// left over that does not fill a chunk goes through step_to_special.
//
// An instruction-set file instantiates expand_walk<Isa> with a struct of
// its own that has:
//   mask                      an unsigned integer type, one bit per byte of
//                             a chunk
//   mark_chunk(p, t, e)       sets t and e to the tab and line-end bits of
//                             the chunk at p (bit i for byte p[i])
//   copy_64(out, in)          copies 64 bytes
//   spaces_64(out)            stores 64 spaces
//   COUNTS_TABS               whether a segment's tabs are counted to bound
//                             what it can make (worth it where counting bits
//                             is one instruction); otherwise the bound is
//                             the segment's length times the tab stop
//   count_bits(m)             the number of bits set in m (needed only with
//                             COUNTS_TABS)
//   first_bit(m)              the lowest bit set in m; for m == 0, any value
//                             below 2 * CHUNK
// The compiler checks each of them where the walk uses it. Everything here
// has internal linkage, so each includer gets a copy built for its own
// instruction set. The bitmaps are read as bytes in places, which takes a
// little-endian CPU, as every x86 is.
#ifndef PADCOLS_EXPAND_WALK_H
#define PADCOLS_EXPAND_WALK_H

#include "expand_step.h"

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace {

// Positions within a segment, and everything computed from them, in the
// machine's own word.
using offset = std::ptrdiff_t;

// Input bytes marked before they are walked.
constexpr offset SEGMENT = 2048;
// The bytes copy_64 and spaces_64 each move at once.
constexpr offset STORE = 64;
// How far past the bytes that count an unchecked walk may store into the
// output block or load from the input block: a copy or fill of n bytes in
// whole stores touches up to STORE - 1 bytes more. Every check of the room
// and of the input left before an unchecked copy leaves this much.
constexpr offset STORE_SLACK = 64;
static_assert(STORE_SLACK >= STORE - 1, "whole stores can run past the slack");

// Where no line end came before a position. A column base (see start_base)
// is never below 1 - MAX_TAB_STOP, so a line end, when there is one, always
// wins the comparison with the base.
constexpr offset NO_LINE_END = -0x10000;
static_assert(NO_LINE_END < 1 - MAX_TAB_STOP, "NO_LINE_END could pass for a column base");

template <class Isa>
struct Chunks {
    static_assert(std::is_unsigned<typename Isa::mask>::value, "a mask must be unsigned");
    // Bytes per chunk: one bit of the mask each.
    static constexpr offset SIZE = sizeof(typename Isa::mask) * 8;
    static_assert(SEGMENT % SIZE == 0, "a segment is whole chunks");
    static constexpr offset PER_SEGMENT = SEGMENT / SIZE;
    // Run starts listed per chunk without a branch; more take a loop.
    static constexpr int LISTED = SIZE / 16;
};

// The scratch of one segment, on the stack of the call.
template <class Isa>
struct Marks {
    using mask = typename Isa::mask;
    static constexpr offset CHUNK = Chunks<Isa>::SIZE;
    // Tab bits; two zero chunks after the segment end every run there and
    // keep unaligned reads of the bits inside the array.
    mask tabs[Chunks<Isa>::PER_SEGMENT + 2];
    mask eols[Chunks<Isa>::PER_SEGMENT + 1];
    // 1 + the position of the last line end before chunk i, or NO_LINE_END.
    offset eol_before[Chunks<Isa>::PER_SEGMENT + 1];
    // Where each run of tabs starts; runs are at least two bytes apart.
    std::uint16_t starts[SEGMENT / 2 + CHUNK];
    static_assert(SEGMENT <= 0x10000, "a position in a segment must fit a run start");
    offset runs;
    offset tab_count; // with COUNTS_TABS: all the tabs of the segment
};

// The highest bit set in m, for m != 0.
template <class mask>
inline offset highest_bit(mask m)
{
    const unsigned zeros = sizeof(mask) == 8
                               ? static_cast<unsigned>(__builtin_clzll(m))
                               : static_cast<unsigned>(__builtin_clz(static_cast<unsigned>(m)));
    return static_cast<offset>(sizeof(mask) * 8 - 1 - zeros);
}

// Marks the first len bytes at seg (whole chunks): first the bitmaps, in a
// pass of vector compares alone, then from them the list of run starts.
template <class Isa>
inline void mark_segment(const unsigned char *seg, offset len, Marks<Isa> &m)
{
    using mask = typename Isa::mask;
    constexpr offset CHUNK = Chunks<Isa>::SIZE;
    const offset chunks = len / CHUNK;
    for (offset c = 0; c < chunks; ++c)
        Isa::mark_chunk(seg + c * CHUNK, m.tabs[c], m.eols[c]);
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
        if constexpr (Isa::COUNTS_TABS) {
            tab_count += static_cast<offset>(Isa::count_bits(tabs));
            runs += static_cast<offset>(Isa::count_bits(first));
        }
        for (int i = 0; i < Chunks<Isa>::LISTED; ++i) {
            list[i] = static_cast<std::uint16_t>(at + static_cast<offset>(Isa::first_bit(first)));
            if constexpr (!Isa::COUNTS_TABS)
                runs += first != 0;
            first &= first - 1;
        }
        for (int i = Chunks<Isa>::LISTED; first != 0; ++i) {
            list[i] = static_cast<std::uint16_t>(at + static_cast<offset>(Isa::first_bit(first)));
            if constexpr (!Isa::COUNTS_TABS)
                ++runs;
            first &= first - 1;
        }
    }
    m.eol_before[chunks] = last_eol;
    m.runs = runs;
    m.tab_count = tab_count;
}

// 1 + the position of the last line end before position p, or NO_LINE_END.
template <class Isa>
inline offset line_start(const Marks<Isa> &m, offset p)
{
    using mask = typename Isa::mask;
    constexpr offset CHUNK = Chunks<Isa>::SIZE;
    const offset c = p / CHUNK;
    const mask below = m.eols[c] & ((mask(1) << (p % CHUNK)) - 1);
    const offset here = c * CHUNK + highest_bit(below | 1) + 1;
    const offset some = -static_cast<offset>(below != 0);
    return (here & some) | (m.eol_before[c] & ~some);
}

// The number of tabs in the run that starts at t. One unaligned read of the
// bits covers runs shorter than CHUNK - 8; longer ones go a chunk at a time.
template <class Isa>
inline offset run_length(const Marks<Isa> &m, offset t)
{
    using mask = typename Isa::mask;
    constexpr offset CHUNK = Chunks<Isa>::SIZE;
    mask window;
    // t lies in the segment, so the read ends inside the two zero chunks
    // after it.
    assert(t / 8 + static_cast<offset>(sizeof window) <= static_cast<offset>(sizeof m.tabs));
    std::memcpy(&window, reinterpret_cast<const unsigned char *>(m.tabs) + t / 8, sizeof window);
    const mask gaps = ~(window >> (t % 8)) | (mask(1) << (CHUNK - 8));
    offset p = t + static_cast<offset>(Isa::first_bit(gaps));
    if (p - t < CHUNK - 8)
        return p - t;
    for (;;) {
        const offset s = p % CHUNK;
        const mask rest = ~(m.tabs[p / CHUNK] >> s); // ones above the chunk's end
        const offset k = rest != 0 ? static_cast<offset>(Isa::first_bit(rest)) : CHUNK;
        p += k;
        if (s + k < CHUNK)
            return p - t;
    }
}

// mod_stop(x) is exact for 0 <= x < MOD_REACH. The walk takes it of a
// position in a segment less a column base: below SEGMENT + MAX_TAB_STOP.
constexpr offset MOD_REACH = 0x10000;
static_assert(SEGMENT + MAX_TAB_STOP <= MOD_REACH, "a column could pass the reach of mod_stop");

// x mod stop. For a power of two it is a mask; otherwise, with reciprocal =
// (2^32 - 1) / stop, the quotient taken from the product is exact or one too
// small for x below MOD_REACH, which one subtraction mends.
template <bool POWER_OF_TWO>
inline offset mod_stop(offset x, offset stop, std::uint32_t reciprocal)
{
    assert(x >= 0 && x < MOD_REACH);
    const std::uint32_t ux = static_cast<std::uint32_t>(x);
    const std::uint32_t ustop = static_cast<std::uint32_t>(stop);
    if (POWER_OF_TWO)
        return static_cast<offset>(ux & (ustop - 1));
    const std::uint32_t q = static_cast<std::uint32_t>((std::uint64_t(ux) * reciprocal) >> 32);
    std::uint32_t r = ux - q * ustop;
    r = r >= ustop ? r - ustop : r;
    return static_cast<offset>(r);
}

// The column base at a segment's first byte: the value that makes
// (p - base) mod stop the column of position p until the next line end.
// There a tab would make left spaces, so its column is stop - left, and the
// base is left - stop, from 1 - stop to 0.
inline offset start_base(std::int32_t left, offset stop)
{
    return left - stop;
}

// What a walk needs to know of the tab stop.
struct Stop {
    offset stop;
    std::uint32_t reciprocal; // (2^32 - 1) / stop, for mod_stop
};

// The spaces a tab at position p would make: cols_left there, with base the
// column's base as it stands before the first line end ahead of p.
template <class Isa, bool POWER_OF_TWO>
inline std::int32_t left_at(const Marks<Isa> &m, offset p, offset base, Stop s)
{
    const offset eol = line_start(m, p);
    base = eol > base ? eol : base;
    const offset col = mod_stop<POWER_OF_TWO>(p - base, s.stop, s.reciprocal);
    return static_cast<std::int32_t>(s.stop - col);
}

// A segment to walk and where its output goes.
struct Walk {
    unsigned char *seg; // the segment's first byte
    offset len;         // its length, whole chunks
    unsigned char *out;
    offset base; // the column of p is (p - base) mod stop up to the first line end
};

// Copies text bytes from in to out, then writes n spaces after them, both a
// whole store at a time: each may store up to STORE - 1 bytes past its end
// and load as far past the text, which the caller has checked there is room
// and input for. Returns the end of the spaces.
template <class Isa>
inline unsigned char *put_text_and_spaces(unsigned char *out, const unsigned char *in, offset text,
                                          offset n)
{
    assert(in + text + STORE_SLACK <= in_end);
    assert(out + text + n + STORE_SLACK <= out_end);
    Isa::copy_64(out, in);
    for (offset k = STORE; k < text; k += STORE)
        Isa::copy_64(out + k, in + k);
    out += text;
    Isa::spaces_64(out);
    for (offset k = STORE; k < n; k += STORE)
        Isa::spaces_64(out + k);
    return out + n;
}

// Writes exactly n spaces, a whole store at a time while whole stores fit
// (the C runtime's memset is slow on some systems), the rest with memset.
template <class Isa>
inline void fill_spaces(unsigned char *out, offset n)
{
    offset k = 0;
    for (; k + STORE <= n; k += STORE)
        Isa::spaces_64(out + k);
    std::memset(out + k, ' ', static_cast<std::size_t>(n - k));
}

// The output block fills inside the text that starts at src, written at
// out: what fits is copied, and the state stops inside that text. base is
// the column base at src; no line end after the stopping point may move it.
template <class Isa, bool POWER_OF_TWO>
inline void fill_inside_text(const Marks<Isa> &m, unsigned char *seg, offset src,
                             unsigned char *out, offset base, Stop s, unsigned char *&in_ref,
                             unsigned char *&out_ref, std::int32_t &left)
{
    const offset room = out_end - out;
    const offset p = src + room;
    std::memcpy(out, seg + src, static_cast<std::size_t>(room));
    left = left_at<Isa, POWER_OF_TWO>(m, p, base, s);
    in_ref = seg + p;
    out_ref = out_end;
}

// Walks a marked segment: each run of tabs with the text before it, then the
// text after the last run. Unless CHECKED, the segment has room for
// everything it can make and STORE_SLACK bytes more, and STORE_SLACK readable
// bytes after it, so nothing is checked. CHECKED, each run is walked that way
// where there is room, and otherwise copied exactly; then the output may
// fill, and false comes back with the state set where it did: inside text,
// or inside a run, on the tab that is not finished with the spaces it still
// owes.
template <class Isa, bool POWER_OF_TWO, bool CHECKED>
inline bool walk_runs(const Marks<Isa> &m, const Walk &w, Stop s, unsigned char *&in_ref,
                      unsigned char *&out_ref, std::int32_t &left)
{
    unsigned char *const seg = w.seg;
    const offset stop = s.stop;
    unsigned char *out = w.out;
    offset src = 0;
    offset base = w.base;
    // A run at or before this position leaves STORE_SLACK readable bytes
    // after its text.
    const offset fast_in = (in_end - seg) - STORE_SLACK;
    // Held here: the stores through out could alias m, and m would be read
    // again on every run.
    const std::uint16_t *const starts = m.starts;
    const offset runs = m.runs;

    for (offset i = 0; i < runs; ++i) {
        const offset t = starts[i];
        const offset text = t - src;
        offset room = out_end - out;
        // The last line end before the run, if it comes after the base,
        // starts the column the run begins at.
        const offset eol = line_start(m, t);
        const offset run_base = eol > base ? eol : base;
        const offset run = run_length(m, t);
        const offset col = mod_stop<POWER_OF_TWO>(t - run_base, stop, s.reciprocal);
        const offset n = run * stop - col;
        if (!CHECKED || (t <= fast_in && room >= text + n + STORE_SLACK)) {
            out = put_text_and_spaces<Isa>(out, seg + src, text, n);
        } else {
            if (room < text) {
                fill_inside_text<Isa, POWER_OF_TWO>(m, seg, src, out, base, s, in_ref, out_ref,
                                                    left);
                return false;
            }
            std::memcpy(out, seg + src, static_cast<std::size_t>(text));
            out += text;
            room -= text;
            if (room < n) {
                // It fills inside the run: the first tab owes stop - col
                // spaces, every other one stop.
                fill_spaces<Isa>(out, room);
                const offset first = stop - col;
                if (room < first) {
                    in_ref = seg + t;
                    left = static_cast<std::int32_t>(first - room);
                } else {
                    const offset done = (room - first) / stop;
                    in_ref = seg + t + 1 + done;
                    left = static_cast<std::int32_t>(stop - (room - first - done * stop));
                }
                out_ref = out_end;
                return false;
            }
            fill_spaces<Isa>(out, n);
            out += n;
        }
        src = t + run;
        base = src;
    }

    // The text after the last run.
    const offset text = w.len - src;
    if (!CHECKED) {
        assert(seg + w.len + STORE_SLACK <= in_end && out + text + STORE_SLACK <= out_end);
        for (offset k = 0; k < text; k += STORE)
            Isa::copy_64(out + k, seg + src + k);
    } else {
        if (out_end - out < text) {
            fill_inside_text<Isa, POWER_OF_TWO>(m, seg, src, out, base, s, in_ref, out_ref, left);
            return false;
        }
        std::memcpy(out, seg + src, static_cast<std::size_t>(text));
    }
    left = left_at<Isa, POWER_OF_TWO>(m, w.len, base, s);
    in_ref = seg + w.len;
    out_ref = out + text;
    return true;
}

// How much of the input at seg to mark as one segment, with room bytes of
// output free: whole chunks, at most SEGMENT. Every input byte makes at
// least one output byte, and a tab at most stop. Where the segment's tabs
// are counted, up to half the room a segment of ordinary text fits
// unchecked; elsewhere the segment is kept to room / stop, which fits
// whatever it holds. Once that is less than a chunk, it need not be longer
// than the room.
template <class Isa>
inline offset segment_length(const unsigned char *seg, offset room, offset stop)
{
    constexpr offset CHUNK = Chunks<Isa>::SIZE;
    offset len = (in_end - seg) / CHUNK * CHUNK;
    len = len < SEGMENT ? len : SEGMENT;
    const offset cap = (Isa::COUNTS_TABS ? room / 2 : (room - STORE_SLACK) / stop) / CHUNK * CHUNK;
    const offset limit = cap >= CHUNK ? cap : (room + CHUNK - 1) / CHUNK * CHUNK;
    return len < limit ? len : limit;
}

// Whether a marked segment can be walked unchecked: the room holds the most
// it can make and STORE_SLACK bytes more, and STORE_SLACK readable bytes
// follow it. This is the one place that decides.
template <class Isa>
inline bool walk_unchecked(const Marks<Isa> &m, const Walk &w, offset stop)
{
    const offset most = Isa::COUNTS_TABS ? w.len + m.tab_count * (stop - 1) : w.len * stop;
    return in_end - (w.seg + w.len) >= STORE_SLACK && (out_end - w.out) - most >= STORE_SLACK;
}

// Expands one segment of whole chunks from in. Returns false when the output
// block filled, with the state where it did.
template <class Isa, bool POWER_OF_TWO>
inline bool walk_segment(unsigned char *&in_ref, unsigned char *&out_ref, std::int32_t &left,
                         Stop s)
{
    const Walk w{in_ref, segment_length<Isa>(in_ref, out_end - out_ref, s.stop), out_ref,
                 start_base(left, s.stop)};
    Marks<Isa> m;
    mark_segment<Isa>(w.seg, w.len, m);
    if (walk_unchecked<Isa>(m, w, s.stop))
        return walk_runs<Isa, POWER_OF_TWO, false>(m, w, s, in_ref, out_ref, left);
    return walk_runs<Isa, POWER_OF_TWO, true>(m, w, s, in_ref, out_ref, left);
}

// The whole of expand_block's work: segments while whole chunks of input
// and some output room remain, then the byte step for what is left.
template <class Isa>
inline void expand_walk()
{
    constexpr offset CHUNK = Chunks<Isa>::SIZE;
    const CallStart start = start_call();
    unsigned char *in = in_pos;
    unsigned char *out = out_pos;
    std::int32_t left = cols_left;
    const std::int32_t stop = tab_stop;
    const Stop s{stop, 0xffffffffu / static_cast<std::uint32_t>(stop)};
    const bool power_of_two = (stop & (stop - 1)) == 0;

    for (;;) {
        bool going = true;
        while (going && in_end - in >= CHUNK && out != out_end)
            going = power_of_two ? walk_segment<Isa, true>(in, out, left, s)
                                 : walk_segment<Isa, false>(in, out, left, s);
        if (!going || in == in_end || out == out_end || !step_to_special(in, out, left, stop))
            break;
    }

    in_pos = in;
    out_pos = out;
    cols_left = left;
    end_call(start);
}

} // namespace

#endif

// The vector expander, shared by the source files of each instruction set.
// It expands a segment of the input block at a time, in two steps:
//
//  1. mark: vector compares turn each chunk of the segment into two bitmaps,
//     one bit per byte: its tabs, and its marks (tabs, CRs and LFs alike);
//     the places where runs of tabs start are listed as the chunks go;
//  2. walk: for each run of tabs, the text before it is copied 64 bytes at a
//     time and the run's spaces are written with vector stores.
//
// The column needs no line ends: after a tab it is a multiple of the stop,
// and after a CR or LF it is 0, so the column at p is the distance from the
// byte after the last mark before p, modulo the stop. A virtual mark just
// before the segment stands for the column the segment starts at.
//
// Stores may go up to STORE_SLACK bytes past what counts; those bytes lie
// beyond out_pos and are overwritten later, never written out. Where a
// segment might reach the end of the output block, or lies within
// STORE_SLACK bytes of the end of the input block, every run is checked and
// copied exactly, and the output may fill inside text or inside a run. Input
// left over that does not fill a chunk goes through step_to_special.
//
// An instruction-set file instantiates expand_vector<Isa> with a struct of
// its own. This is all the two steps rely on it for, with CHUNK the bits of
// a mask. The compiler checks the first two items, and the unit tests' rows
// the rest on every path (reads and writes past a buffer under the
// sanitizers); tests/expand_model.h has an instruction set that gives the
// weakest answers allowed here, which passes them too:
//   mask                 an unsigned integer type of 32 or 64 bits, one bit
//                        per byte of a chunk
//   COUNTS_TABS          a constant bool: whether a segment's tabs are
//                        counted to bound what it can make (where counting
//                        bits is one instruction); else that bound is its
//                        length times the stop
//   mark_chunk(p, t, k)  sets bit i of t exactly when p[i] is a tab, and bit
//                        i of k exactly when p[i] is a tab, CR or LF, for i
//                        below CHUNK; reads no byte past p[CHUNK - 1]
//   copy_64(out, in)     copies the 64 bytes at in to out
//   spaces_64(out)       stores 64 spaces at out
//   count_bits(m)        the number of bits set in m; only with COUNTS_TABS
//   first_bit(m)         the position of the lowest bit set in m; for m == 0,
//                        any value from CHUNK - 8 to CHUNK (see run_length)
//   list_starts(list, f, at)
//                        optional, else list_bits does it: for at a multiple
//                        of CHUNK and f without two adjacent bits set, writes
//                        at + the position of each bit set in f to list[0],
//                        list[1] and so on, lowest first, and returns how
//                        many; it may write anything to the entries after
//                        those, up to list[CHUNK / 2 - 1], and nothing further
// Pointers may have any alignment. Everything here has internal linkage, so
// each includer gets a copy built for its own instruction set. The bitmaps
// are read as bytes in places, which takes a little-endian CPU, as every x86
// is and AArch64 is under Linux. Every function is noexcept: included in
// code built with exceptions (as the tests are), no call here then has a
// path for one, which coverage would count as a branch never taken.
#ifndef PADCOLS_EXPAND_VECTOR_H
#define PADCOLS_EXPAND_VECTOR_H

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

// The most input bytes marked at once, before they are walked.
constexpr offset MAX_SEGMENT = 2048;
// The bytes copy_64 and spaces_64 each move at once.
constexpr offset STORE = 64;
// How far past the bytes that count an unchecked walk may store into the
// output block or load from the input block: a copy or fill of n bytes in
// whole stores touches up to STORE - 1 bytes more. Every check of the room
// and of the input left before an unchecked copy leaves this much.
constexpr offset STORE_SLACK = 64;
static_assert(STORE_SLACK >= STORE - 1, "whole stores can run past the slack");

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the bitmaps are read as bytes");

template <class Isa>
struct Chunks {
    static_assert(std::is_unsigned<typename Isa::mask>::value &&
                      (sizeof(typename Isa::mask) == 4 || sizeof(typename Isa::mask) == 8),
                  "a mask must be an unsigned integer of 32 or 64 bits");
    static_assert(std::is_same<decltype(Isa::COUNTS_TABS), const bool>::value,
                  "COUNTS_TABS must be a constant bool");
    // Bytes per chunk: one bit of the mask each.
    static constexpr offset SIZE = sizeof(typename Isa::mask) * 8;
    static_assert(MAX_SEGMENT % SIZE == 0, "a segment is whole chunks");
    static constexpr offset PER_SEGMENT = MAX_SEGMENT / SIZE;
    // Run starts listed per chunk without a branch; more take a loop.
    static constexpr int LISTED = SIZE / 16;
};

// The scratch of one segment, on the stack of the call.
template <class Isa>
struct Marks {
    using mask = typename Isa::mask;
    static constexpr offset CHUNK = Chunks<Isa>::SIZE;
    // Words of mark bits before the segment's, enough to hold the virtual
    // mark at any column the segment can start at.
    static constexpr offset BEFORE = (MAX_TAB_STOP - 1) / CHUNK + 1;
    // Tab bits; two zero chunks after the segment end every run there and
    // keep unaligned reads of the bits inside the array.
    mask tabs[Chunks<Isa>::PER_SEGMENT + 2];
    // Mark bits of chunk c in marks[BEFORE + c]. The words before hold only
    // the virtual mark, at -1 - the segment's starting column, so that the
    // distance from the byte after it is the column before any real mark.
    mask marks[BEFORE + Chunks<Isa>::PER_SEGMENT];
    offset runs;
    offset tab_count; // with COUNTS_TABS: all the tabs of the segment
    // Where each run of tabs starts. A start is a tab after a byte that is
    // not one, so starts lie two bytes apart at least: the first c chunks
    // hold c * CHUNK / 2 of them at most, and the listing of chunk c, which
    // writes CHUNK / 2 entries at most from there, ends within MAX_SEGMENT /
    // 2. Last here, so that a listing that wrote further would run into the
    // guard AddressSanitizer keeps after the struct, not into a field.
    std::uint16_t starts[MAX_SEGMENT / 2];
    static_assert(MAX_SEGMENT <= 0x10000, "a position in a segment must fit a run start");
};

// The highest bit set in m, for m != 0.
template <class mask>
inline offset highest_bit(mask m) noexcept
{
    const unsigned zeros = sizeof(mask) == 8
                               ? static_cast<unsigned>(__builtin_clzll(m))
                               : static_cast<unsigned>(__builtin_clz(static_cast<unsigned>(m)));
    return static_cast<offset>(sizeof(mask) * 8 - 1 - zeros);
}

// Writes at + the position of the lowest bit of first to list[i], clears
// that bit, and where bits are not counted, counts it in n.
template <class Isa>
inline void list_lowest(std::uint16_t *list, int i, typename Isa::mask &first, offset at,
                        offset &n) noexcept
{
    list[i] = static_cast<std::uint16_t>(at + static_cast<offset>(Isa::first_bit(first)));
    if constexpr (!Isa::COUNTS_TABS)
        n += first != 0;
    first &= first - 1;
}

// Lists run starts for instruction sets without a compress: the first LISTED
// positions are written whether there are that many or not (what lies past
// the count is overwritten by the next chunk or never read), which needs no
// branch; more take a loop. The first LISTED are spelled out: left to a
// loop, GCC packs their stores into vector shifts, ORs and adds, which take
// more instructions than the plain stores.
template <class Isa>
inline offset list_bits(std::uint16_t *list, typename Isa::mask first, offset at) noexcept
{
    static_assert(Chunks<Isa>::LISTED == 2 || Chunks<Isa>::LISTED == 4, "LISTED is spelled out");
    offset n = 0;
    if constexpr (Isa::COUNTS_TABS)
        n = static_cast<offset>(Isa::count_bits(first));
    list_lowest<Isa>(list, 0, first, at, n);
    list_lowest<Isa>(list, 1, first, at, n);
    if constexpr (Chunks<Isa>::LISTED == 4) {
        list_lowest<Isa>(list, 2, first, at, n);
        list_lowest<Isa>(list, 3, first, at, n);
    }
    for (int i = Chunks<Isa>::LISTED; first != 0; ++i)
        list_lowest<Isa>(list, i, first, at, n);
    return n;
}

// Whether the instruction set lists run starts itself.
template <class Isa, class = void>
struct Lists : std::false_type {
};
template <class Isa>
struct Lists<Isa, std::void_t<decltype(&Isa::list_starts)>> : std::true_type {
};

// Marks the first len bytes at seg (whole chunks), with the virtual mark for
// a start at column col, and lists the runs of tabs: a run starts at a tab
// whose byte before is not a tab.
template <class Isa>
inline void mark_segment(const unsigned char *seg, offset len, offset col, Marks<Isa> &m) noexcept
{
    using mask = typename Isa::mask;
    constexpr offset CHUNK = Chunks<Isa>::SIZE;
    const offset chunks = len / CHUNK;
    mask *const marks = m.marks + Marks<Isa>::BEFORE;
    // The words from the virtual mark's to the segment's are read back to it.
    const offset virtual_word = -1 - col / CHUNK;
    for (offset word = virtual_word; word < 0; ++word)
        marks[word] = 0;
    marks[virtual_word] = mask(1) << (CHUNK - 1 - col % CHUNK);
    mask carry = 0; // the last byte of the chunk before was a tab
    offset runs = 0, tab_count = 0;
    for (offset c = 0; c < chunks; ++c) {
        mask tabs;
        Isa::mark_chunk(seg + c * CHUNK, tabs, marks[c]);
        m.tabs[c] = tabs;
        const mask first = tabs & ~((tabs << 1) | carry);
        carry = tabs >> (CHUNK - 1);
        if constexpr (Lists<Isa>::value)
            runs += Isa::list_starts(m.starts + runs, first, c * CHUNK);
        else
            runs += list_bits<Isa>(m.starts + runs, first, c * CHUNK);
        if constexpr (Isa::COUNTS_TABS)
            tab_count += static_cast<offset>(Isa::count_bits(tabs));
    }
    m.tabs[chunks] = 0;
    m.tabs[chunks + 1] = 0;
    m.runs = runs;
    m.tab_count = tab_count;
}

// The distance from the byte after the last mark before p (the virtual one
// if no other): the column at p, less a multiple of the stop. One read of
// the CHUNK bits that end at p finds it unless all are clear; then whole
// words are looked at backwards, down to the virtual mark at the latest.
template <class Isa>
inline offset since_mark(const Marks<Isa> &m, offset p) noexcept
{
    using mask = typename Isa::mask;
    constexpr offset CHUNK = Chunks<Isa>::SIZE;
    constexpr offset BYTES = sizeof(mask);
    const unsigned char *const bytes =
        reinterpret_cast<const unsigned char *>(m.marks + Marks<Isa>::BEFORE);
    // The byte that holds bit p - 1, counted from the segment's first.
    const offset last = (p - 1) >> 3;
    // p >= 0, so the read starts in the word before the segment's at the
    // earliest, and it ends in the byte of bit p - 1 of the segment.
    assert(p >= 0 && last + 1 <= Chunks<Isa>::PER_SEGMENT * BYTES); // GCOVR_EXCL_BR_LINE: assertion
    mask window;
    std::memcpy(&window, bytes + last + 1 - BYTES, BYTES);
    // Bit p - 1 to the top; the bits from p on fall off.
    window <<= 7 - ((p - 1) & 7);
    if (window != 0)
        return static_cast<offset>(sizeof(mask) * 8 - 1) - highest_bit(window);
    // Clear from bit below = (last + 1) * 8 - CHUNK of the segment to p.
    const offset below = (last + 1) * 8 - CHUNK;
    offset word = (below - 1) >> (BYTES == 8 ? 6 : 5);
    const mask *const marks = m.marks + Marks<Isa>::BEFORE;
    mask bits = marks[word] & ((mask(2) << ((below - 1) & (CHUNK - 1))) - 1);
    while (bits == 0)
        bits = marks[--word];
    return p - (word * CHUNK + highest_bit(bits) + 1);
}

// Where a run of tabs that goes on at least to p ends: the rest of p's chunk,
// then chunk by chunk. Kept out of line: runs that long are rare in text,
// and without this inside it the walk's loop spills less to the stack where
// registers are few (32-bit x86 has eight).
template <class Isa>
[[gnu::noinline]] offset run_end(const Marks<Isa> &m, offset p) noexcept
{
    using mask = typename Isa::mask;
    constexpr offset CHUNK = Chunks<Isa>::SIZE;
    for (;;) {
        const offset s = p % CHUNK;
        const mask rest = ~(m.tabs[p / CHUNK] >> s); // ones above the chunk's end
        // A chunk of nothing but tabs from p on must count CHUNK exactly.
        const offset k = rest != 0 ? static_cast<offset>(Isa::first_bit(rest)) : CHUNK;
        p += k;
        if (s + k < CHUNK)
            return p;
        // p starts a chunk. Chunks of nothing but tabs are passed over
        // without a count: where each is read does not wait on the one
        // before. The zero chunks after the segment end the run.
        while (m.tabs[p / CHUNK] == mask(~mask(0)))
            p += CHUNK;
    }
}

// The number of tabs in the run that starts at t. One unaligned read of the
// bits covers runs shorter than CHUNK - 8; longer ones go on in run_end.
template <class Isa>
inline offset run_length(const Marks<Isa> &m, offset t) noexcept
{
    using mask = typename Isa::mask;
    constexpr offset CHUNK = Chunks<Isa>::SIZE;
    mask window;
    // t lies in the segment, so the read ends in the two zero chunks after.
    // GCOVR_EXCL_BR_START: assertion
    assert(t / 8 + static_cast<offset>(sizeof window) <= static_cast<offset>(sizeof m.tabs));
    // GCOVR_EXCL_BR_STOP
    std::memcpy(&window, reinterpret_cast<const unsigned char *>(m.tabs) + t / 8, sizeof window);
    // Bits past the window's end shift in as zeros and count as gaps: a
    // count below CHUNK - 8 is a gap inside it. A window of nothing but tabs
    // gives first_bit(0), which for that reason must not be below CHUNK - 8,
    // and must not pass CHUNK, the bits the window has checked: run_end goes
    // on from there.
    const offset p = t + static_cast<offset>(Isa::first_bit(~(window >> (t % 8))));
    if (__builtin_expect(p - t < CHUNK - 8, 1))
        return p - t;
    return run_end(m, p) - t;
}

// mod_stop(x) is exact for 0 <= x < MOD_REACH. The walk takes it of a
// position in a segment less a column base: below MAX_SEGMENT + MAX_TAB_STOP.
constexpr offset MOD_REACH = 0x10000;
static_assert(MAX_SEGMENT + MAX_TAB_STOP <= MOD_REACH, "a column could pass the reach of mod_stop");

// x mod stop. For a power of two it is a mask; otherwise, with reciprocal =
// (2^32 - 1) / stop, the quotient taken from the product is exact or one too
// small for x below MOD_REACH, which one subtraction mends.
template <bool POWER_OF_TWO>
inline offset mod_stop(offset x, offset stop, std::uint32_t reciprocal) noexcept
{
    assert(x >= 0 && x < MOD_REACH); // GCOVR_EXCL_BR_LINE: assertion
    const std::uint32_t ux = static_cast<std::uint32_t>(x);
    const std::uint32_t ustop = static_cast<std::uint32_t>(stop);
    if (POWER_OF_TWO)
        return static_cast<offset>(ux & (ustop - 1));
    const std::uint32_t q = static_cast<std::uint32_t>((std::uint64_t(ux) * reciprocal) >> 32);
    std::uint32_t r = ux - q * ustop;
    r = r >= ustop ? r - ustop : r;
    return static_cast<offset>(r);
}

// What the expansion needs to know of the tab stop.
struct Stop {
    offset stop;
    std::uint32_t reciprocal; // (2^32 - 1) / stop, for mod_stop
};

// A stretch of the input block marked and walked at once.
struct Segment {
    unsigned char *start; // its first byte
    offset len;           // its length, whole chunks
};

// Where the expansion stands: the filter state's three values, held in locals.
struct Cursor {
    unsigned char *in;
    unsigned char *out;
    std::int32_t left;
};

// The column at position p of a marked segment.
template <class Isa, bool POWER_OF_TWO>
inline offset column_at(const Marks<Isa> &m, offset p, Stop s) noexcept
{
    return mod_stop<POWER_OF_TWO>(since_mark(m, p), s.stop, s.reciprocal);
}

// The spaces of a fill from STORE up to n, a whole store at a time. Kept out
// of line: fills that long are rare in text, and the walk's loop takes
// fewer instructions without a loop inside it.
template <class Isa>
[[gnu::noinline]] void more_spaces(unsigned char *out, offset n) noexcept
{
    for (offset k = STORE; k < n; k += STORE)
        Isa::spaces_64(out + k);
}

// Copies text bytes from in to out, then writes n spaces after them, both a
// whole store at a time: each may store up to STORE - 1 bytes past its end
// and load as far past the text, which the caller has checked there is room
// and input for. Returns the end of the spaces.
template <class Isa>
inline unsigned char *put_text_and_spaces(unsigned char *out, const unsigned char *in, offset text,
                                          offset n) noexcept
{
    assert(in + text + STORE_SLACK <= in_end);       // GCOVR_EXCL_BR_LINE: assertion
    assert(out + text + n + STORE_SLACK <= out_end); // GCOVR_EXCL_BR_LINE: assertion
    Isa::copy_64(out, in);
    for (offset k = STORE; k < text; k += STORE)
        Isa::copy_64(out + k, in + k);
    out += text;
    Isa::spaces_64(out);
    if (__builtin_expect(n > STORE, 0))
        more_spaces<Isa>(out, n);
    return out + n;
}

// Writes exactly n spaces, a whole store at a time while whole stores fit
// (the C runtime's memset is slow on some systems), the rest with memset.
template <class Isa>
inline void fill_spaces(unsigned char *out, offset n) noexcept
{
    offset k = 0;
    for (; k + STORE <= n; k += STORE)
        Isa::spaces_64(out + k);
    if (k < n)
        std::memset(out + k, ' ', static_cast<std::size_t>(n - k));
}

// The text from src to a run at t, the run's column and the spaces it makes.
struct Piece {
    offset src, t, col, n;
};

// Copies a piece exactly, to c.out, as far as the output holds it. Returns
// false when the output block filled, with the cursor where it did: inside
// the text, or on the tab of the run that is not finished, with the spaces
// it still owes.
template <class Isa, bool POWER_OF_TWO>
inline bool put_exactly(const Marks<Isa> &m, const Segment &segment, Stop s, Piece piece,
                        Cursor &c) noexcept
{
    const offset room = out_end - c.out;
    if (room < piece.t - piece.src) {
        const offset p = piece.src + room;
        std::memcpy(c.out, segment.start + piece.src, static_cast<std::size_t>(room));
        c.left = static_cast<std::int32_t>(s.stop - column_at<Isa, POWER_OF_TWO>(m, p, s));
        c.in = segment.start + p;
        c.out = out_end;
        return false;
    }
    std::memcpy(c.out, segment.start + piece.src, static_cast<std::size_t>(piece.t - piece.src));
    c.out += piece.t - piece.src;
    const offset spaces = out_end - c.out < piece.n ? out_end - c.out : piece.n;
    fill_spaces<Isa>(c.out, spaces);
    c.out += spaces;
    if (spaces == piece.n)
        return true;
    // A tab of the run is finished at every stop the spaces reach.
    c.in = segment.start + piece.t + (piece.col + spaces) / s.stop;
    c.left = static_cast<std::int32_t>(s.stop - (piece.col + spaces) % s.stop);
    return false;
}

// Walks a marked segment: each run of tabs with the text before it, then the
// text after the last run. Unless CHECKED, the segment has room for
// everything it can make and STORE_SLACK bytes more, and STORE_SLACK readable
// bytes after it, so nothing is checked. CHECKED, each run is walked that way
// where there is room, and otherwise copied exactly; then the output may
// fill, and false comes back with the cursor where it did.
template <class Isa, bool POWER_OF_TWO, bool CHECKED>
inline bool walk_runs(const Marks<Isa> &m, const Segment &segment, Stop s, Cursor &c) noexcept
{
    unsigned char *const seg = segment.start;
    unsigned char *out = c.out;
    offset src = 0;
    // A run at or before this position leaves STORE_SLACK readable bytes
    // after its text.
    const offset fast_in = (in_end - seg) - STORE_SLACK;
    // Held here: the stores through out could alias m, and m would be read
    // again on every run.
    const std::uint16_t *const starts = m.starts;
    const offset runs = m.runs;

    for (offset i = 0; i < runs; ++i) {
        const offset t = starts[i];
        const offset col = column_at<Isa, POWER_OF_TWO>(m, t, s);
        const offset run = run_length(m, t);
        const offset n = run * s.stop - col;
        if (!CHECKED || (t <= fast_in && out_end - out >= t - src + n + STORE_SLACK)) {
            out = put_text_and_spaces<Isa>(out, seg + src, t - src, n);
        } else {
            c.out = out;
            if (!put_exactly<Isa, POWER_OF_TWO>(m, segment, s, Piece{src, t, col, n}, c))
                return false;
            out = c.out;
        }
        src = t + run;
    }

    // The text after the last run.
    const offset col = column_at<Isa, POWER_OF_TWO>(m, segment.len, s);
    c.out = out;
    if (!CHECKED)
        c.out = put_text_and_spaces<Isa>(out, seg + src, segment.len - src, 0);
    else if (!put_exactly<Isa, POWER_OF_TWO>(m, segment, s, Piece{src, segment.len, col, 0}, c))
        return false;
    c.in = seg + segment.len;
    c.left = static_cast<std::int32_t>(s.stop - col);
    return true;
}

// How much of the input at start to mark as one segment, with room bytes of
// output free: whole chunks, at most MAX_SEGMENT. Every input byte makes at
// least one output byte, and a tab at most stop. Where the segment's tabs
// are counted, up to half the room a segment of ordinary text fits
// unchecked; elsewhere the segment is kept to room / stop, which fits
// whatever it holds. Once that is less than a chunk, it need not be longer
// than the room.
template <class Isa>
inline offset segment_length(const unsigned char *start, offset room, offset stop) noexcept
{
    constexpr offset CHUNK = Chunks<Isa>::SIZE;
    offset len = (in_end - start) / CHUNK * CHUNK;
    len = len < MAX_SEGMENT ? len : MAX_SEGMENT;
    const offset cap = (Isa::COUNTS_TABS ? room / 2 : (room - STORE_SLACK) / stop) / CHUNK * CHUNK;
    const offset limit = cap >= CHUNK ? cap : (room + CHUNK - 1) / CHUNK * CHUNK;
    return len < limit ? len : limit;
}

// Whether a marked segment can be walked unchecked: the room holds the most
// it can make and STORE_SLACK bytes more, and STORE_SLACK readable bytes
// follow it. This is the one place that decides.
template <class Isa>
inline bool fits_unchecked(const Marks<Isa> &m, const Segment &segment, const unsigned char *out,
                           offset stop) noexcept
{
    const offset most =
        Isa::COUNTS_TABS ? segment.len + m.tab_count * (stop - 1) : segment.len * stop;
    return in_end - (segment.start + segment.len) >= STORE_SLACK &&
           (out_end - out) - most >= STORE_SLACK;
}

// Expands one segment of whole chunks from c.in: marks it, then walks it.
// Returns false when the output block filled, with the cursor where it did.
template <class Isa, bool POWER_OF_TWO>
inline bool expand_segment(Cursor &c, Stop s) noexcept
{
    const Segment segment{c.in, segment_length<Isa>(c.in, out_end - c.out, s.stop)};
    Marks<Isa> m;
    mark_segment<Isa>(segment.start, segment.len, s.stop - c.left, m);
    if (fits_unchecked<Isa>(m, segment, c.out, s.stop))
        return walk_runs<Isa, POWER_OF_TWO, false>(m, segment, s, c);
    return walk_runs<Isa, POWER_OF_TWO, true>(m, segment, s, c);
}

// The whole of expand_block's work: segments while whole chunks of input
// and some output room remain, then the byte step for what is left.
template <class Isa>
inline void expand_vector() noexcept
{
    constexpr offset CHUNK = Chunks<Isa>::SIZE;
    const CallStart start = start_call();
    Cursor c{in_pos, out_pos, cols_left};
    const std::int32_t stop = tab_stop;
    const Stop s{stop, 0xffffffffu / static_cast<std::uint32_t>(stop)};
    const bool power_of_two = (stop & (stop - 1)) == 0;

    for (;;) {
        bool going = true;
        while (going && in_end - c.in >= CHUNK && c.out != out_end)
            going =
                power_of_two ? expand_segment<Isa, true>(c, s) : expand_segment<Isa, false>(c, s);
        if (!going || c.in == in_end || c.out == out_end ||
            !step_to_special(c.in, c.out, c.left, stop))
            break;
    }

    in_pos = c.in;
    out_pos = c.out;
    cols_left = c.left;
    end_call(start);
}

} // namespace

#endif

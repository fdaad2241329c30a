#include "filter_state.h"
#include "expand_paths.h"

#include <cstring>

#if PADCOLS_HAVE_SSE2
#include <emmintrin.h>
#endif

namespace {

unsigned char *const in_end = in_buf + BLOCK_SIZE;
unsigned char *const out_end = out_buf + BLOCK_SIZE;

// The byte-at-a-time step that both paths fall back on: handles bytes until
// one tab, CR or LF has been handled or a block end is reached. Returns false
// when the output block filled in the middle of a tab, which then stays the
// next unread byte with cols_left holding the spaces still owed.
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

// Ordinary bytes go a machine word at a time: a word without a tab, CR or LF
// is copied whole and moves the column by its width, whose remainder modulo
// the tab stop is worked out once per call. A word holding a special byte is
// handled byte by byte up to and including that byte.
void expand_block_portable()
{
    using word = std::size_t;
    constexpr std::size_t W = sizeof(word);
    constexpr word ones = ~word(0) / 0xff; // 0x0101...01
    constexpr word highs = ones * 0x80;    // 0x8080...80

    unsigned char *in = in_pos;
    unsigned char *out = out_pos;
    std::int32_t left = cols_left;
    const std::int32_t stop = tab_stop;
    const std::int32_t word_cols = static_cast<std::int32_t>(W % static_cast<std::size_t>(stop));

    for (;;) {
        while (static_cast<std::size_t>(in_end - in) >= W &&
               static_cast<std::size_t>(out_end - out) >= W) {
            word w;
            std::memcpy(&w, in, W);
            // A byte of w equals b exactly when the same byte of w ^ (b * ones)
            // is zero; (x - ones) & ~x & highs is nonzero exactly when x has a
            // zero byte.
            const word t = w ^ (ones * '\t');
            const word r = w ^ (ones * '\r');
            const word n = w ^ (ones * '\n');
            const word zero = ((t - ones) & ~t) | ((r - ones) & ~r) | ((n - ones) & ~n);
            if (zero & highs)
                break;
            std::memcpy(out, &w, W);
            in += W;
            out += W;
            left -= word_cols;
            if (left <= 0)
                left += stop;
        }
        if (in == in_end || out == out_end || !step_to_special(in, out, left, stop))
            break;
    }

    in_pos = in;
    out_pos = out;
    cols_left = left;
}

#if PADCOLS_HAVE_SSE2

// Sixty-four bytes at a time, as four SSE2 vectors. Each chunk is stored to
// the output as it is loaded; then its masks of tabs and line ends say how
// much of it counts: the bytes before its first tab, the first 63 if it has
// none. Whatever was stored past them lies beyond out_pos and is overwritten
// by what comes next, never written out. The run of tabs at the first one is
// written with two stores of spaces when it needs at most 32, or with a fill.
//
// The position within the tab stop is kept as x, the count of bytes since the
// column was last 0, and is reduced modulo the stop only to size a run of
// tabs. x never reaches 2^16: it starts below the stop and grows by at most
// the input block.
void expand_block_sse2()
{
    unsigned char *in = in_pos;
    unsigned char *out = out_pos;
    std::int32_t left = cols_left;
    const std::int32_t stop = tab_stop;
    const std::uint32_t ustop = static_cast<std::uint32_t>(stop);

    // x mod stop, taken as x - stop * (x * inverse >> 32). With inverse =
    // 2^32 / stop + 1 rounded down, the quotient is exact for every x below
    // 2^16 and every stop below 2^16: the error it adds stays under 1/stop.
    const std::uint64_t inverse = (std::uint64_t(1) << 32) / ustop + 1;
    const auto mod_stop = [inverse, ustop](std::uint32_t x) {
        return x - static_cast<std::uint32_t>((x * inverse) >> 32) * ustop;
    };

    const __m128i tabs = _mm_set1_epi8('\t');
    const __m128i crs = _mm_set1_epi8('\r');
    const __m128i lfs = _mm_set1_epi8('\n');
    const __m128i spaces = _mm_set1_epi8(' ');
    const auto tab_bits = [&tabs](__m128i v) {
        return static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, tabs)));
    };
    const auto eol_bits = [&crs, &lfs](__m128i v) {
        return static_cast<std::uint32_t>(
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, crs), _mm_cmpeq_epi8(v, lfs))));
    };

    for (;;) {
        std::uint32_t x = ustop - static_cast<std::uint32_t>(left);
        // The room kept free covers the chunk and two stores of spaces after it.
        while (in_end - in >= 64 && out_end - out >= 96) {
            const auto load = [in](int at) {
                return _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + at));
            };
            const auto store = [out](int at, __m128i v) {
                _mm_storeu_si128(reinterpret_cast<__m128i *>(out + at), v);
            };
            const __m128i v0 = load(0), v1 = load(16), v2 = load(32), v3 = load(48);
            store(0, v0);
            store(16, v1);
            store(32, v2);
            store(48, v3);
            // Byte 63 is left out of the masks: it counts as the chunk's end,
            // which keeps every bit position and shift below 64.
            const std::uint64_t end = std::uint64_t(1) << 63;
            const std::uint64_t tab = (tab_bits(v0) | tab_bits(v1) << 16 |
                                       std::uint64_t(tab_bits(v2) | tab_bits(v3) << 16) << 32) & ~end;
            const std::uint64_t eol = eol_bits(v0) | eol_bits(v1) << 16 |
                                      std::uint64_t(eol_bits(v2) | eol_bits(v3) << 16) << 32;

            // What the chunk holds is chosen with masks, not branches, which
            // its bytes would make unpredictable. The column restarts after
            // the last line end among the k bytes that count; without one it
            // goes on.
            const unsigned k = static_cast<unsigned>(__builtin_ctzll(tab | end));
            const std::uint64_t eols = eol & ((std::uint64_t(1) << k) - 1);
            const std::uint32_t has_eol = 0u - static_cast<std::uint32_t>(eols != 0);
            const std::uint32_t restart = 64u - static_cast<std::uint32_t>(__builtin_clzll(eols | 1));
            x = (x & ~has_eol) + k - (restart & has_eol);
            in += k;
            out += k;

            // The run of tabs at the first one, none if the chunk has no tab:
            // together they reach the stop run - 1 stops past the next one.
            const unsigned run = static_cast<unsigned>(__builtin_ctzll(~tab >> k));
            const std::uint32_t has_tab = 0u - static_cast<std::uint32_t>(run != 0);
            const std::uint32_t n = (run * ustop - mod_stop(x)) & has_tab;
            if (n <= 32) {
                _mm_storeu_si128(reinterpret_cast<__m128i *>(out), spaces);
                _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 16), spaces);
            } else if (n <= static_cast<std::uint32_t>(out_end - out)) {
                std::memset(out, ' ', n);
            } else {
                break; // the run does not fit: the byte step fills what does
            }
            out += n;
            in += run;
            x &= ~has_tab;
        }
        left = stop - static_cast<std::int32_t>(mod_stop(x));
        if (in == in_end || out == out_end || !step_to_special(in, out, left, stop))
            break;
    }

    in_pos = in;
    out_pos = out;
    cols_left = left;
}

#endif

void expand_block()
{
#if PADCOLS_HAVE_SSE2
    expand_block_sse2();
#else
    expand_block_portable();
#endif
}

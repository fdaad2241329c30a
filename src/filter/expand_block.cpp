#include "filter_state.h"
#include "expand_paths.h"
#include "expand_step.h"

#include <cstring>

#if PADCOLS_HAVE_SSE2
#include <cpuid.h>
#endif

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

// Asks the CPU directly, with as few CPUID instructions as the answer takes:
// in a virtual machine each one traps to the hypervisor, and the compiler's
// own feature probe, which asks for everything, adds tens of microseconds to
// every start.
bool expand_path_runs_here(int path)
{
    if (path == EXPAND_PORTABLE)
        return true;
#if PADCOLS_HAVE_SSE2
    const unsigned top = __get_cpuid_max(0, nullptr);
    if (top < 1)
        return false;
    unsigned a, b, c, d;
    __cpuid(1, a, b, c, d);
    if (path == EXPAND_SSE2)
        return (d & bit_SSE2) != 0;
#if PADCOLS_HAVE_AVX2
    // AVX2 also needs the system to save the vector registers (XCR0 bits 1
    // and 2), which it says through OSXSAVE and XGETBV.
    if (path == EXPAND_AVX2 && top >= 7 && (c & bit_OSXSAVE) && (c & bit_AVX) && (c & bit_POPCNT)) {
        unsigned xcr0, xcr0_high;
        __asm__("xgetbv" : "=a"(xcr0), "=d"(xcr0_high) : "c"(0));
        if ((xcr0 & 6) != 6)
            return false;
        __cpuid_count(7, 0, a, b, c, d);
        return (b & bit_AVX2) && (b & bit_BMI) && (b & bit_BMI2);
    }
#endif
#endif
    return false;
}

static int fastest_expand_path()
{
    if (expand_path_runs_here(EXPAND_AVX2))
        return EXPAND_AVX2;
    if (expand_path_runs_here(EXPAND_SSE2))
        return EXPAND_SSE2;
    return EXPAND_PORTABLE;
}

const int expand_path = fastest_expand_path();

void expand_block()
{
#if PADCOLS_HAVE_AVX2
    if (expand_path == EXPAND_AVX2) {
        expand_block_avx2();
        return;
    }
#endif
#if PADCOLS_HAVE_SSE2
    if (expand_path == EXPAND_SSE2) {
        expand_block_sse2();
        return;
    }
#endif
    expand_block_portable();
}

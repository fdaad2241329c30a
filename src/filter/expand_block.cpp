// expand_block itself: it runs the fastest path this build has that the CPU
// running it can execute, chosen once at start-up.
#include "filter_state.h"
#include "expand_paths.h"

#include <initializer_list>

#if PADCOLS_HAVE_SSE2
#include <cpuid.h>
#endif

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
    if (top < 1)      // GCOVR_EXCL_BR_LINE: CPU choice; every CPU with SSE2 answers leaf 1
        return false; // GCOVR_EXCL_LINE: as above
    unsigned a, b, c, d;
    __cpuid(1, a, b, c, d);
    if (path == EXPAND_SSE2)
        return (d & bit_SSE2) != 0;
#if PADCOLS_HAVE_AVX2
    if (path == EXPAND_AVX2 || path == EXPAND_AVX512) {
        // AVX2 and AVX-512 also need the system to save their registers (XCR0
        // bits 1 and 2; for AVX-512 also bits 5 to 7, the opmask registers
        // and the 512-bit state), which it says through OSXSAVE and XGETBV.
        const unsigned saved = path == EXPAND_AVX2 ? 0x06 : 0xe6;
        // GCOVR_EXCL_BR_START: CPU choice; the other sides are other CPUs' answers
        if (top < 7 || !(c & bit_OSXSAVE) || !(c & bit_AVX) || !(c & bit_POPCNT))
            return false; // GCOVR_EXCL_LINE: only on an x86 CPU without AVX, OSXSAVE or POPCNT
        unsigned xcr0, xcr0_high;
        __asm__("xgetbv" : "=a"(xcr0), "=d"(xcr0_high) : "c"(0));
        if ((xcr0 & saved) != saved)
            return false; // GCOVR_EXCL_LINE: only where the system does not save those registers
        __cpuid_count(7, 0, a, b, c, d);
        const bool avx2 = (b & bit_AVX2) && (b & bit_BMI) && (b & bit_BMI2);
        // GCOVR_EXCL_BR_STOP
        if (path == EXPAND_AVX2)
            return avx2;
#if PADCOLS_HAVE_AVX512
        // GCOVR_EXCL_BR_START: CPU choice; the other sides are other CPUs' answers
        const bool avx512 = (b & bit_AVX512F) && (b & bit_AVX512BW) && (c & bit_AVX512VBMI2);
        __cpuid(0x80000001, a, b, c, d);
        return avx2 && avx512 && (c & bit_LZCNT);
        // GCOVR_EXCL_BR_STOP
#endif
    }
#endif
#endif
    return false; // a path this build does not have
}

static int fastest_expand_path()
{
    // GCOVR_EXCL_BR_START: CPU choice; a CPU without AVX-512 goes on down the list
    for (const int path : {EXPAND_AVX512, EXPAND_AVX2, EXPAND_SSE2})
        if (expand_path_runs_here(path))
            return path;
    // GCOVR_EXCL_BR_STOP
    return EXPAND_PORTABLE; // GCOVR_EXCL_LINE: only on a CPU without SSE2 or a build without it
}

const int expand_path = fastest_expand_path();

void expand_block()
{
#if PADCOLS_HAVE_AVX512
    if (expand_path == EXPAND_AVX512) { // GCOVR_EXCL_BR_LINE: CPU choice, as above
        // GCOVR_EXCL_START: only on a CPU with AVX-512 (the unit tests also run it directly)
        expand_block_avx512();
        return;
        // GCOVR_EXCL_STOP
    }
#endif
    // GCOVR_EXCL_START: only on a CPU without AVX-512 or a build without it
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
    // GCOVR_EXCL_STOP
}

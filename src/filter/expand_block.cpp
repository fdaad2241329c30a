// expand_block itself: it runs the fastest path this build has that the CPU
// running it can execute, chosen once at start-up.
#include "filter_state.h"
#include "expand_paths.h"

#if PADCOLS_HAVE_SSE2
#include <cpuid.h>

#include <initializer_list>
#endif

#if PADCOLS_HAVE_SSE2
// Asks the CPU the five leaves the choice reads and, where it can be read,
// XCR0: in a virtual machine each CPUID traps to the hypervisor, and the
// compiler's own feature probe, which asks for everything, adds tens of
// microseconds to every start. CPUID answers any leaf without a fault;
// XGETBV faults unless the system has turned it on, which leaf 1 reports as
// OSXSAVE.
static CpuReport ask_the_cpu()
{
    CpuReport cpu{};
    unsigned a, b, d; // the registers the report leaves out
    cpu.highest_leaf = __get_cpuid_max(0, nullptr);
    if (cpu.highest_leaf == 0) // GCOVR_EXCL_BR_LINE: every CPU that runs the tests has CPUID
        return cpu;            // GCOVR_EXCL_LINE: as above
    __cpuid(1, a, b, cpu.leaf_1_ecx, cpu.leaf_1_edx);
    __cpuid_count(7, 0, a, cpu.leaf_7_ebx, cpu.leaf_7_ecx, d);
    cpu.highest_extended_leaf = __get_cpuid_max(0x80000000, nullptr);
    __cpuid(0x80000001, a, b, cpu.extended_1_ecx, d);
    // GCOVR_EXCL_BR_START: this CPU's answer; the runs under emulated CPUs take the other side
    if (cpu.leaf_1_ecx & bit_OSXSAVE) {
        unsigned xcr0_high;
        __asm__("xgetbv" : "=a"(cpu.xcr0), "=d"(xcr0_high) : "c"(0));
    }
    // GCOVR_EXCL_BR_STOP
    return cpu;
}

bool path_runs_on(int path, const CpuReport &cpu)
{
    const bool sse2 = cpu.highest_leaf >= 1 && (cpu.leaf_1_edx & bit_SSE2);
    // AVX2 and AVX-512 also need the system to save their registers, which
    // it says in XCR0 (0 in the report where OSXSAVE says it cannot be read):
    // for AVX2 bits 1 and 2 (the SSE and AVX state, the ymm registers), for
    // AVX-512 also bits 5 to 7 (the opmask registers and the 512-bit state).
    const bool avx2 = sse2 && cpu.highest_leaf >= 7 && (cpu.xcr0 & 0x06) == 0x06 &&
                      (cpu.leaf_1_ecx & bit_AVX) && (cpu.leaf_1_ecx & bit_POPCNT) &&
                      (cpu.leaf_7_ebx & bit_AVX2) && (cpu.leaf_7_ebx & bit_BMI) &&
                      (cpu.leaf_7_ebx & bit_BMI2);
    const bool avx512 = avx2 && (cpu.xcr0 & 0xe0) == 0xe0 && (cpu.leaf_7_ebx & bit_AVX512F) &&
                        (cpu.leaf_7_ebx & bit_AVX512BW) && (cpu.leaf_7_ecx & bit_AVX512VBMI2) &&
                        cpu.highest_extended_leaf >= 0x80000001 && (cpu.extended_1_ecx & bit_LZCNT);
    switch (path) {
    case EXPAND_PORTABLE:
        return true;
    case EXPAND_SSE2:
        return sse2;
    case EXPAND_AVX2:
        return PADCOLS_HAVE_AVX2 && avx2;
    case EXPAND_AVX512:
        return PADCOLS_HAVE_AVX512 && avx512;
    default:
        return false; // a path no build has
    }
}

int fastest_path_on(const CpuReport &cpu)
{
    for (const int path : {EXPAND_AVX512, EXPAND_AVX2, EXPAND_SSE2})
        if (path_runs_on(path, cpu))
            return path;
    return EXPAND_PORTABLE;
}

bool expand_path_runs_here(int path)
{
    return path_runs_on(path, ask_the_cpu());
}

const int expand_path = fastest_path_on(ask_the_cpu());
#else
// Elsewhere there is nothing to ask: an AArch64 build has NEON, which every
// ARMv8-A CPU has, and builds for other CPUs the portable path alone.
bool expand_path_runs_here(int path)
{
    return path == EXPAND_PORTABLE || (PADCOLS_HAVE_NEON && path == EXPAND_NEON);
}

const int expand_path = PADCOLS_HAVE_NEON ? EXPAND_NEON : EXPAND_PORTABLE;
#endif

// On x86, which branch runs is the CPU's choice, so a native run takes only
// this CPU's. The unit tests under emulated CPUs take the SSE2 and AVX2 branches
// too, and every run of them checks that expand_block ran the path
// expand_path names.
void expand_block()
{
#if PADCOLS_HAVE_NEON
    expand_block_neon(); // every AArch64 CPU has NEON
#else
#if PADCOLS_HAVE_AVX512
    if (expand_path == EXPAND_AVX512) { // GCOVR_EXCL_BR_LINE: the CPU's choice
        // GCOVR_EXCL_START: only on a CPU with AVX-512 VBMI2
        expand_block_avx512();
        return;
        // GCOVR_EXCL_STOP
    }
#endif
    // GCOVR_EXCL_START: only on a CPU without AVX-512 VBMI2 or a build without it
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
#endif
}

// The ways expand_block can do its work. All have exactly its contract and
// differ only in how many bytes they examine per step. Which of them a build
// has depends on its target (the build defines PADCOLS_HAVE_SSE2,
// PADCOLS_HAVE_AVX2 and PADCOLS_HAVE_AVX512 on x86, PADCOLS_HAVE_NEON on
// AArch64); on x86, which of those runs is chosen once, at start-up, from
// what the CPU reports. The tests hold each against the same reference.
#ifndef PADCOLS_EXPAND_PATHS_H
#define PADCOLS_EXPAND_PATHS_H

#ifndef PADCOLS_HAVE_SSE2
#define PADCOLS_HAVE_SSE2 0
#endif
#ifndef PADCOLS_HAVE_AVX2
#define PADCOLS_HAVE_AVX2 0
#endif
#ifndef PADCOLS_HAVE_AVX512
#define PADCOLS_HAVE_AVX512 0
#endif
#ifndef PADCOLS_HAVE_NEON
#define PADCOLS_HAVE_NEON 0
#endif

constexpr int EXPAND_PORTABLE = 0;
constexpr int EXPAND_SSE2 = 1;
constexpr int EXPAND_AVX2 = 2;
constexpr int EXPAND_AVX512 = 3;
constexpr int EXPAND_NEON = 4;

// The path expand_block takes: the fastest one this build has and the CPU
// running it can execute.
extern const int expand_path;

// Whether this build has the path and the CPU running it can execute it.
bool expand_path_runs_here(int path);

#if PADCOLS_HAVE_SSE2
// What an x86 CPU and the system on it report, as far as the choice of path
// reads it: the CPUID leaves that name the instructions, and XCR0, which says
// which registers the system saves on a task switch. A leaf past the highest
// one the CPU reports holds whatever the CPU answered for it, which the
// choice ignores.
struct CpuReport {
    unsigned highest_leaf;          // leaf 0, EAX; 0 where there is no CPUID
    unsigned leaf_1_ecx;            // leaf 1: AVX, POPCNT; OSXSAVE, whether XCR0 can be read
    unsigned leaf_1_edx;            // leaf 1: SSE2
    unsigned leaf_7_ebx;            // leaf 7, subleaf 0: AVX2, BMI1, BMI2, AVX-512 F and BW
    unsigned leaf_7_ecx;            // leaf 7, subleaf 0: AVX-512 VBMI2
    unsigned highest_extended_leaf; // leaf 0x80000000, EAX
    unsigned extended_1_ecx;        // leaf 0x80000001: LZCNT
    unsigned xcr0;                  // its low half; 0 unless leaf 1 reports OSXSAVE
};

// Whether this build has the path and a CPU that reports cpu can execute it.
bool path_runs_on(int path, const CpuReport &cpu);

// The fastest path this build has that a CPU that reports cpu can execute.
int fastest_path_on(const CpuReport &cpu);
#endif

// Machine words, on any target.
void expand_block_portable();

#if PADCOLS_HAVE_SSE2
// SSE2 vectors: chunks of 64 bytes on x86-64, of 32 bytes on 32-bit x86.
void expand_block_sse2();
#endif

#if PADCOLS_HAVE_AVX2
// AVX2 vectors with BMI1, BMI2 and POPCNT: chunks of 64 bytes on x86-64, of
// 32 bytes on 32-bit x86.
void expand_block_avx2();
#endif

#if PADCOLS_HAVE_AVX512
// AVX-512 F, BW and VBMI2 vectors with BMI1, BMI2, LZCNT and POPCNT: chunks
// of 64 bytes, on x86-64 only.
void expand_block_avx512();
#endif

#if PADCOLS_HAVE_NEON
// Advanced SIMD (NEON) vectors, part of every ARMv8-A CPU: chunks of 64
// bytes, on AArch64.
void expand_block_neon();
#endif

#endif

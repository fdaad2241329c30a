// Unit tests of the resumable expander, run directly on the filter state.
// Every test runs once for each way the expander can work.

#include "filter/expand_paths.h"
#include "filter/filter_state.h"
#include "expand_model.h"

#include <gtest/gtest.h>

#if PADCOLS_HAVE_SSE2
#include <cpuid.h>
#include <immintrin.h>
#endif
#if PADCOLS_HAVE_NEON
#include <sys/auxv.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <ostream>
#include <random>
#include <string>
#include <vector>

// Names each path in GoogleTest's messages.
void PrintTo(const TestedPath &path, std::ostream *os)
{
    *os << path.name;
}

// Which path expand_block ran last. The linker wraps each path's entry point
// (tests/CMakeLists.txt): every call of expand_block_sse2 in this program,
// expand_block's among them, reaches __wrap__Z17expand_block_sse2v, which
// notes the path and calls the real one, __real__Z17expand_block_sse2v. The
// names are the entry points' as the compiler mangles them.
static int path_that_ran = -1;
#define NOTE_PATH(kind, entry)                                                                     \
    extern "C" void __real_##entry();                                                              \
    extern "C" void __wrap_##entry()                                                               \
    {                                                                                              \
        path_that_ran = kind;                                                                      \
        __real_##entry();                                                                          \
    }
NOTE_PATH(EXPAND_PORTABLE, _Z21expand_block_portablev)
#if PADCOLS_HAVE_SSE2
NOTE_PATH(EXPAND_SSE2, _Z17expand_block_sse2v)
#endif
#if PADCOLS_HAVE_AVX2
NOTE_PATH(EXPAND_AVX2, _Z17expand_block_avx2v)
#endif
#if PADCOLS_HAVE_AVX512
NOTE_PATH(EXPAND_AVX512, _Z19expand_block_avx512v)
#endif
#if PADCOLS_HAVE_NEON
NOTE_PATH(EXPAND_NEON, _Z17expand_block_neonv)
#endif

namespace {

// The path under test.
void (*expand)() = expand_block_portable;

class ExpandBlock : public testing::TestWithParam<TestedPath> {
protected:
    void SetUp() override
    {
        if (!expand_path_runs_here(GetParam().kind))
            GTEST_SKIP() << "this CPU cannot run the " << GetParam().name << " path";
        expand = GetParam().run;
    }
};

struct Pieces {
    std::size_t in_min, in_max;   // bytes per refill of the input block
    std::size_t out_min, out_max; // free output bytes per call
};

// Runs the path under test with refills of random size and a random amount
// of free output room per call.
std::string expand_randomly(const std::string &input, int stop, Pieces p, std::mt19937 &rng)
{
    auto pick = [&rng](std::size_t lo, std::size_t hi) {
        return std::uniform_int_distribution<std::size_t>(lo, hi)(rng);
    };
    std::string out;
    const std::string fault = expand_in_pieces(
        input, stop, expand, [&] { return pick(p.in_min, p.in_max); },
        [&] { return pick(p.out_min, p.out_max); }, out);
    if (!fault.empty())
        ADD_FAILURE() << fault;
    return out;
}

struct Case {
    int stop;
    std::string input;
    std::string expected;
};

std::string repeat(const std::string &s, std::size_t times)
{
    std::string out;
    while (times-- != 0)
        out += s;
    return out;
}

TEST_P(ExpandBlock, ExpandsTabsToTheNextStop)
{
    using namespace std::string_literals;
    // Each byte value but tab, CR and LF between a letter and a tab, at stop
    // 4: each is one column, so the tab makes two spaces.
    std::string every_byte, every_byte_expanded;
    for (int b = 0; b < 256; ++b)
        if (b != '\t' && b != '\r' && b != '\n') {
            every_byte += {'x', static_cast<char>(b), '\t'};
            every_byte_expanded += {'x', static_cast<char>(b), ' ', ' '};
        }
    const Case cases[] = {
        {8, "ab\tc", "ab      c"},
        {8, "\t", std::string(8, ' ')},
        {8, "12345678\tx", "12345678        x"},
        {1, "a\t\tb\t", "a  b "},
        {4, "abc\td", "abc d"},
        {4, "abcd\te", "abcd    e"},
        {4, "ab\r\tc", "ab\r    c"},
        {4, "ab\n\tc", "ab\n    c"},
        {4, "ab\r\n\tc", "ab\r\n    c"},
        // Every byte but tab, CR and LF is one column and passes unchanged.
        {4, "\0\x08\x1a\t"s, "\0\x08\x1a "s},
        {4, "\x7f\x80\xff\x0b\x0c\t|", "\x7f\x80\xff\x0b\x0c   |"},
        {MAX_TAB_STOP, "\t", std::string(MAX_TAB_STOP, ' ')},
        {MAX_TAB_STOP, "x\t\n\t",
         "x" + std::string(MAX_TAB_STOP - 1, ' ') + "\n" + std::string(MAX_TAB_STOP, ' ')},
        {8, "", ""},
        // Runs longer than a vector's worth of tabs, across chunks and
        // segments; a column far past 2^16 when the tab comes.
        {3, "ab" + std::string(3000, '\t') + "c", "ab" + std::string(1 + 2999 * 3, ' ') + "c"},
        {7, std::string(70001, 'x') + "\t|", std::string(70001, 'x') + std::string(6, ' ') + "|"},
        // Marks that lie more than a vector's width before the run, and a
        // column past a word's bits when the next segment starts.
        {100, "ab\r" + std::string(150, 'x') + "\t|" + std::string(130, 'y') + "\t",
         "ab\r" + std::string(150, 'x') + std::string(50, ' ') + "|" + std::string(130, 'y') +
             std::string(69, ' ')},
        {4, every_byte, every_byte_expanded},
        // Runs of exactly 64 and 32 tabs starting on a byte of the tab bits
        // (with no padding, 64 and 2048 before): a window of nothing but
        // tabs, with a run as long as a chunk or longer.
        {8, std::string(64, '\t') + "xxxxxxx\n" + std::string(32, '\t') + "y",
         std::string(512, ' ') + "xxxxxxx\n" + std::string(256, ' ') + "y"},
        // A run start at every other byte of a whole segment: the most run
        // starts a segment can list.
        {2, repeat("\tx", 1100), "  x" + repeat(" x", 1099)},
        // A whole segment (the sixth) that starts at column 9989, with no
        // mark before its tab: the column comes from a virtual mark in the
        // farthest word of marks before the segment's.
        {MAX_TAB_STOP,
         std::string(250, 'y') + "\n" + std::string(10089, 'x') + "\t|" + std::string(2000, 'z'),
         std::string(250, 'y') + "\n" + std::string(10089, 'x') + std::string(9909, ' ') + "|" +
             std::string(2000, 'z')},
    };
    std::mt19937 rng(1);
    const Pieces whole{BLOCK_SIZE, BLOCK_SIZE, BLOCK_SIZE, BLOCK_SIZE};
    for (const Case &c : cases) {
        EXPECT_EQ(c.expected, reference_expand(c.input, c.stop)) << "reference, stop " << c.stop;
        EXPECT_EQ(c.expected, expand_randomly(c.input, c.stop, whole, rng)) << "stop " << c.stop;
        // The same after plain bytes that move it across a chunk's and a
        // segment's end, and with plain bytes after it or without, so that the
        // vector walk meets it both where it may store past the text and where
        // it must stop exactly.
        for (const std::size_t before : {1, 63, 64, 65, 2047, 2048, 2049})
            for (const std::size_t after : {0, 130}) {
                const std::string input =
                    std::string(before, 'x') + c.input + std::string(after, 'y');
                EXPECT_EQ(reference_expand(input, c.stop),
                          expand_randomly(input, c.stop, whole, rng))
                    << "stop " << c.stop << ", " << before << " bytes before, " << after
                    << " after";
            }
    }
}

// "\tz" at column 0 with a given amount of free output: the call stops with
// the output full, the tab unread and the spaces still owed in cols_left until
// the room reaches the tab stop; the next call finishes the job.
TEST_P(ExpandBlock, StopsMidTabAndResumes)
{
    struct Row {
        int stop;
        std::size_t room, unread;
        std::int32_t owed;
    };
    const Row rows[] = {
        {8, 1, 2, 7}, {8, 7, 2, 1}, {8, 8, 1, 8},
        {8, 9, 0, 7}, {1, 1, 1, 1}, {MAX_TAB_STOP, 5000, 2, MAX_TAB_STOP - 5000},
    };
    for (const Row &r : rows) {
        start_expansion(r.stop);
        load_input("\tz", 2);
        out_pos = out_end - r.room;
        expand();
        EXPECT_EQ(out_end, out_pos) << r.stop << "/" << r.room;
        EXPECT_EQ(in_end - r.unread, in_pos) << r.stop << "/" << r.room;
        EXPECT_EQ(r.owed, cols_left) << r.stop << "/" << r.room;

        std::string out(out_end - r.room, out_end);
        out_pos = out_buf;
        expand();
        out.append(out_buf, out_pos);
        EXPECT_EQ(reference_expand("\tz", r.stop), out) << r.stop << "/" << r.room;
    }
}

// Every fixed output room from one byte up, so that the output block fills at
// every position: inside every tab and between any two bytes. The long inputs
// take the vector paths through every way their walk can stop.
TEST_P(ExpandBlock, ResumesAtEveryOutputSplit)
{
    const struct {
        const char *name;
        std::string input;
    } inputs[] = {
        {"short: shorter than a vector", "ab\tc\t\t\rd\tef\n\t\tgh\t"},
        // The output fills inside the text before a run, ahead of a line end
        // that comes before the run.
        {"text with a line end before a run",
         std::string(40, 'a') + "\nbbb\t" + std::string(200, 'c')},
        // It fills inside runs of one tab and of many, across chunk ends.
        {"runs across chunks", std::string(60, 'a') + "\t\t\t\tb\t" + std::string(70, 'c') +
                                   std::string(70, '\t') + "\r\t" + std::string(66, 'd')},
        // More runs start in one chunk than are listed without a loop.
        {"many runs in a chunk", repeat("\tx", 40) + std::string(70, 'y')},
        // It fills inside the text after a segment's last run.
        {"text after the last run", "\t\t" + std::string(62, 'e') + "\n\t" + std::string(190, 'f')},
    };
    std::mt19937 rng(2);
    for (const auto &in : inputs)
        for (const int stop : {1, 3, 8, 13}) {
            const std::string expected = reference_expand(in.input, stop);
            for (std::size_t room = 1; room <= expected.size(); ++room) {
                const Pieces fixed{BLOCK_SIZE, BLOCK_SIZE, room, room};
                EXPECT_EQ(expected, expand_randomly(in.input, stop, fixed, rng))
                    << in.name << ", stop " << stop << ", room " << room;
            }
        }
}

// Builds with assertions refuse a state no path can work from, such as a tab
// stop past the reach of the vector walk's column arithmetic, rather than
// give wrong bytes.
TEST_P(ExpandBlock, AssertsOnAStateOutsideItsBounds)
{
#ifdef NDEBUG
    GTEST_SKIP() << "assertions are compiled out of this build";
#else
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const struct {
        std::int32_t stop, left;
    } rows[] = {{MAX_TAB_STOP + 1, 1}, {70000, 70000}, {0, 1}, {8, 0}, {8, 9}};
    const std::string line(68000, 'x');
    for (const auto &r : rows) {
        start_expansion(8);
        load_input(line.data(), BLOCK_SIZE);
        tab_stop = r.stop;
        cols_left = r.left;
        EXPECT_DEATH(expand(), "") << "stop " << r.stop << ", cols_left " << r.left;
    }
#endif
}

TEST_P(ExpandBlock, EmptyInputOrFullOutputChangesNothing)
{
    for (const bool input_empty : {true, false}) {
        start_expansion(8);
        cols_left = 3;
        std::memset(out_buf, 'o', BLOCK_SIZE);
        if (input_empty) {
            out_pos = out_buf + 10;
        } else {
            load_input("a\tb", 3);
            out_pos = out_end;
        }
        unsigned char *const in_before = in_pos;
        unsigned char *const out_before = out_pos;
        expand();
        EXPECT_EQ(in_before, in_pos);
        EXPECT_EQ(out_before, out_pos);
        EXPECT_EQ(3, cols_left);
        EXPECT_EQ(std::string(BLOCK_SIZE, 'o'), std::string(out_buf, out_end));
    }
}

// Random bytes, random tab stops, and
// random refill and drain points.
TEST_P(ExpandBlock, MatchesReferenceForRandomInputAndSplits)
{
    std::mt19937 rng(3);
    const char special[] = {'\t', '\t', '\t', '\r', '\n', 'a'};
    for (int round = 0; round < 300; ++round) {
        // Wide stops get short inputs: with many tabs their output is huge.
        const bool wide = round % 5 == 0;
        const int stop = std::uniform_int_distribution<int>(1, wide ? MAX_TAB_STOP : 20)(rng);
        const std::size_t max_len = wide ? 2000 : 3 * BLOCK_SIZE;
        std::string input(std::uniform_int_distribution<std::size_t>(0, max_len)(rng), '\0');
        // Dense rounds are mostly special bytes; sparse ones leave long runs
        // of ordinary bytes, which the fast paths take a word or vector at a time.
        const bool sparse = (round / 2) % 2 == 0;
        for (std::size_t i = 0; i < input.size(); ++i) {
            const unsigned r = rng();
            const bool is_special = sparse ? r % 48 == 0 : (r & 3) != 0;
            input[i] = is_special ? special[(r >> 8) % sizeof special] : static_cast<char>(r >> 16);
            // Now and then a long run of tabs.
            if (r % 2048 == 0)
                for (std::size_t end = std::min(input.size(), i + r % 300); i < end; ++i)
                    input[i] = '\t';
        }
        const std::size_t in_max = round % 2 ? BLOCK_SIZE : 64;
        const std::size_t out_max = round % 3 ? BLOCK_SIZE : 64;
        const Pieces random{1, in_max, 1, out_max};
        ASSERT_EQ(reference_expand(input, stop), expand_randomly(input, stop, random, rng))
            << "round " << round << ", stop " << stop;
    }
}

#if PADCOLS_HAVE_SSE2
// A bit of what a CPU reports, as Intel's Software Developer's Manual (vol.
// 2A, CPUID; vol. 1, XCR0 in the chapter on XSAVE) and AMD's Programmer's
// Manual (vol. 3, CPUID) number them.
struct Feature {
    unsigned CpuReport::*word;
    unsigned bit;
};
const Feature SSE2{&CpuReport::leaf_1_edx, 26};
const Feature POPCNT{&CpuReport::leaf_1_ecx, 23};
const Feature OSXSAVE{&CpuReport::leaf_1_ecx, 27};
const Feature AVX{&CpuReport::leaf_1_ecx, 28};
const Feature BMI1{&CpuReport::leaf_7_ebx, 3};
const Feature AVX2{&CpuReport::leaf_7_ebx, 5};
const Feature BMI2{&CpuReport::leaf_7_ebx, 8};
const Feature AVX512F{&CpuReport::leaf_7_ebx, 16};
const Feature AVX512BW{&CpuReport::leaf_7_ebx, 30};
const Feature AVX512VBMI2{&CpuReport::leaf_7_ecx, 6};
const Feature LZCNT{&CpuReport::extended_1_ecx, 5}; // AMD calls it ABM
// XCR0: the x87, SSE (xmm) and AVX (upper ymm) state; the opmask, upper zmm
// and upper sixteen zmm registers; MPX's and the protection keys' state.
constexpr unsigned X87 = 0x1, XMM = 0x2, YMM = 0x4, OPMASK = 0x20, ZMM = 0xc0, MPX = 0x18,
                   PKRU = 0x200;

[[gnu::target("xsave")]] unsigned long long saved_registers()
{
    return _xgetbv(0);
}
#endif

// Which paths of this build the CPU running it can take, found without
// expand_block.cpp: on x86 the instructions from the CPU's answers as read
// here, with the bits above, and from XCR0 whether the system saves the
// registers AVX2 and AVX-512 use (the ymm halves; the opmask and zmm state);
// on AArch64 Linux NEON from the hardware capabilities the kernel reports.
// The compiler's own probe will not do: GCC 12's reports nothing at all for
// a CPU whose vendor is neither Intel nor AMD, such as Hygon's Dhyana.
std::vector<bool> paths_the_cpu_takes()
{
    std::vector<bool> takes{true, false, false, false, false};
#if PADCOLS_HAVE_NEON
    takes[EXPAND_NEON] = (getauxval(AT_HWCAP) & HWCAP_ASIMD) != 0;
#endif
#if PADCOLS_HAVE_SSE2
    CpuReport cpu{};
    unsigned a, b, c, d;
    __cpuid(0, cpu.highest_leaf, b, c, d);
    __cpuid(1, a, b, cpu.leaf_1_ecx, cpu.leaf_1_edx);
    if (cpu.highest_leaf >= 7)
        __cpuid_count(7, 0, a, cpu.leaf_7_ebx, cpu.leaf_7_ecx, d);
    __cpuid(0x80000000, a, b, c, d);
    if (a >= 0x80000001)
        __cpuid(0x80000001, a, b, cpu.extended_1_ecx, d);
    const auto has = [&cpu](const Feature &f) { return ((cpu.*f.word >> f.bit) & 1) != 0; };
    const unsigned long long xcr0 = has(OSXSAVE) ? saved_registers() : 0;
    takes[EXPAND_SSE2] = has(SSE2);
    takes[EXPAND_AVX2] =
        (xcr0 & 0x06) == 0x06 && has(AVX) && has(AVX2) && has(BMI1) && has(BMI2) && has(POPCNT);
    takes[EXPAND_AVX512] = PADCOLS_HAVE_AVX512 && takes[EXPAND_AVX2] && (xcr0 & 0xe6) == 0xe6 &&
                           has(AVX512F) && has(AVX512BW) && has(AVX512VBMI2) && has(LZCNT);
#endif
    return takes;
}

// expand_block takes the widest path the CPU takes, and the program's
// answer of which paths it takes is right: the tests skip the others.
TEST(ExpandPath, TakesTheWidestPathTheCpuTakes)
{
    const char *const names[] = {"portable", "sse2", "avx2", "avx512", "neon"};
    std::cout << "expand_block runs the " << names[expand_path] << " path\n";
    // Under an emulated CPU the caller names the path that CPU must get.
    if (const char *const must = std::getenv("PADCOLS_EXPECTED_PATH")) {
        EXPECT_STREQ(must, names[expand_path]);
    }
    const std::vector<bool> takes = paths_the_cpu_takes();
    int widest = EXPAND_PORTABLE;
    for (const int kind : {EXPAND_PORTABLE, EXPAND_SSE2, EXPAND_AVX2, EXPAND_AVX512, EXPAND_NEON}) {
        EXPECT_EQ(takes[kind], expand_path_runs_here(kind)) << names[kind];
        widest = takes[kind] ? kind : widest;
    }
    EXPECT_FALSE(expand_path_runs_here(EXPAND_NEON + 1)) << "a path no build has";
    EXPECT_EQ(widest, expand_path);
#if defined(__x86_64__) || defined(__i386__) || defined(__aarch64__)
    EXPECT_NE(EXPAND_PORTABLE, expand_path) << "an x86 or AArch64 build without a vector path";
#endif

    // And expand_block reaches it: a few inputs through expand_block itself,
    // whole and with the output filling inside a long run.
    const std::string input = "ab\tc\r\t" + std::string(3000, '\t') + "x\n" + repeat("y\t", 40);
    for (const int stop : {3, 8})
        for (const std::size_t room : {std::size_t(100), BLOCK_SIZE}) {
            std::string out;
            path_that_ran = -1;
            EXPECT_EQ("", expand_in_pieces(
                              input, stop, expand_block, [] { return BLOCK_SIZE; },
                              [room] { return room; }, out));
            EXPECT_EQ(reference_expand(input, stop), out) << "stop " << stop << ", room " << room;
            EXPECT_EQ(expand_path, path_that_ran) << "the path expand_block ran";
        }
}

#if PADCOLS_HAVE_SSE2
// A CPU as a profile: its highest leaves, the features among those above that
// it reports, what its system sets in XCR0 (0 where it has not enabled XSAVE,
// as the program reads it then), and the path it must get from a build that
// has every path.
struct Profile {
    const char *name;
    unsigned highest_leaf, highest_extended_leaf;
    std::vector<Feature> features;
    unsigned xcr0;
    int path;
};

std::vector<Feature> operator+(std::vector<Feature> a, const std::vector<Feature> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<Feature> operator-(std::vector<Feature> a, const Feature &gone)
{
    a.erase(
        std::remove_if(a.begin(), a.end(),
                       [&](const Feature &f) { return f.word == gone.word && f.bit == gone.bit; }),
        a.end());
    return a;
}

// What each generation adds that the choice reads.
const std::vector<Feature> SANDY_BRIDGE{SSE2, POPCNT, OSXSAVE, AVX};
const std::vector<Feature> HASWELL = SANDY_BRIDGE + std::vector<Feature>{AVX2, BMI1, BMI2, LZCNT};
const std::vector<Feature> SKYLAKE_SP = HASWELL + std::vector<Feature>{AVX512F, AVX512BW};
const std::vector<Feature> ICE_LAKE = SKYLAKE_SP + std::vector<Feature>{AVX512VBMI2};
constexpr unsigned AVX_STATE = X87 | XMM | YMM, AVX512_STATE = AVX_STATE | OPMASK | ZMM;

const Profile profiles[] = {
    {"no CPUID (a 486)", 0, 0, {}, 0, EXPAND_PORTABLE},
    {"Pentium III: no SSE2", 3, 0, {}, 0, EXPAND_PORTABLE},
    {"Pentium 4", 2, 0x80000004, {SSE2}, 0, EXPAND_SSE2},
    {"qemu64: SSE2 without POPCNT or XSAVE", 0xd, 0x8000000a, {SSE2}, 0, EXPAND_SSE2},
    {"Sandy Bridge: AVX without AVX2", 0xd, 0x80000008, SANDY_BRIDGE, AVX_STATE, EXPAND_SSE2},
    {"Haswell", 0xd, 0x80000008, HASWELL, AVX_STATE, EXPAND_AVX2},
    {"Haswell without BMI1", 0xd, 0x80000008, HASWELL - BMI1, AVX_STATE, EXPAND_SSE2},
    {"Haswell without BMI2", 0xd, 0x80000008, HASWELL - BMI2, AVX_STATE, EXPAND_SSE2},
    {"Haswell without AVX2", 0xd, 0x80000008, HASWELL - AVX2, AVX_STATE, EXPAND_SSE2},
    {"Haswell without AVX", 0xd, 0x80000008, HASWELL - AVX, AVX_STATE, EXPAND_SSE2},
    {"Haswell without POPCNT", 0xd, 0x80000008, HASWELL - POPCNT, AVX_STATE, EXPAND_SSE2},
    {"Haswell without SSE2", 0xd, 0x80000008, HASWELL - SSE2, AVX_STATE, EXPAND_PORTABLE},
    // Leaf 7 past the highest leaf: what the CPU answers for it is not leaf 7.
    {"Haswell with its highest leaf set to 6", 6, 0x80000008, HASWELL, AVX_STATE, EXPAND_SSE2},
    {"Haswell, the system not saving ymm", 0xd, 0x80000008, HASWELL, X87 | XMM, EXPAND_SSE2},
    {"Haswell, the system without XSAVE", 0xd, 0x80000008, HASWELL - OSXSAVE, 0, EXPAND_SSE2},
    {"Skylake-SP: AVX-512 F and BW, no VBMI2", 0x16, 0x80000008, SKYLAKE_SP,
     AVX512_STATE | MPX | PKRU, EXPAND_AVX2},
    {"Knights Landing: AVX-512 F without BW", 0xd, 0x80000008, SKYLAKE_SP - AVX512BW, AVX512_STATE,
     EXPAND_AVX2},
    {"Ice Lake server", 0x1b, 0x80000008, ICE_LAKE, AVX512_STATE | PKRU, EXPAND_AVX512},
    {"Zen 4", 0x10, 0x80000028, ICE_LAKE, AVX512_STATE | PKRU, EXPAND_AVX512},
    {"Ice Lake, the system saving ymm but not the opmask and zmm state", 0x1b, 0x80000008, ICE_LAKE,
     AVX_STATE, EXPAND_AVX2},
    {"Ice Lake, AVX-512 F hidden by its hypervisor", 0x1b, 0x80000008, ICE_LAKE - AVX512F,
     AVX512_STATE, EXPAND_AVX2},
    {"Ice Lake without LZCNT", 0x1b, 0x80000008, ICE_LAKE - LZCNT, AVX512_STATE, EXPAND_AVX2},
    {"Ice Lake without leaf 0x80000001", 0x1b, 0x80000000, ICE_LAKE, AVX512_STATE, EXPAND_AVX2},
    {"Ice Lake without BMI2", 0x1b, 0x80000008, ICE_LAKE - BMI2, AVX512_STATE, EXPAND_SSE2},
    {"Ice Lake without POPCNT", 0x1b, 0x80000008, ICE_LAKE - POPCNT, AVX512_STATE, EXPAND_SSE2},
};

// The choice from what a CPU reports: each profile gets its path, or the
// widest this build has below it, and runs each path up to that one.
TEST(ExpandPath, ChoosesFromWhatTheCpuReports)
{
    const int widest_built = PADCOLS_HAVE_AVX512 ? EXPAND_AVX512 : EXPAND_AVX2;
    for (const Profile &p : profiles) {
        CpuReport cpu{};
        cpu.highest_leaf = p.highest_leaf;
        cpu.highest_extended_leaf = p.highest_extended_leaf;
        for (const Feature &f : p.features)
            cpu.*f.word |= 1u << f.bit;
        cpu.xcr0 = p.xcr0;
        const int path = std::min(p.path, widest_built);
        EXPECT_EQ(path, fastest_path_on(cpu)) << p.name;
        for (int kind = EXPAND_PORTABLE; kind <= EXPAND_NEON + 1; ++kind)
            EXPECT_EQ(kind <= path, path_runs_on(kind, cpu)) << p.name << ", path " << kind;
    }
}
#endif

INSTANTIATE_TEST_SUITE_P(Paths, ExpandBlock, testing::ValuesIn(all_paths),
                         [](const testing::TestParamInfo<TestedPath> &info) {
                             return info.param.name;
                         });

} // namespace

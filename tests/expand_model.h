// What the unit tests and the fuzz targets hold the expander to: a plain
// reference model, a driver that runs an expander path the way the pump
// does but with refill and drain points of the caller's choosing, and the
// paths to run, among them the vector expander on an instruction set of the
// tests' own.
#ifndef PADCOLS_EXPAND_MODEL_H
#define PADCOLS_EXPAND_MODEL_H

#include "filter/expand_paths.h"
#include "filter/expand_step.h"
#include "filter/filter_state.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

// The whole expansion in one straightforward pass.
inline std::string reference_expand(const std::string &input, int stop)
{
    std::string out;
    long column = 0;
    for (const char ch : input) {
        if (ch == '\t') {
            const long n = stop - column % stop;
            out.append(static_cast<std::size_t>(n), ' ');
            column += n;
        } else {
            out += ch;
            column = (ch == '\n' || ch == '\r') ? 0 : column + 1;
        }
    }
    return out;
}

#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
// The vector expander reads its bitmaps as bytes, so it is built only for
// little-endian CPUs; there the tests also run it on plain machine words.
#define PADCOLS_TEST_WORD_ISA 1
#include "filter/expand_vector.h"

// list_starts for WordIsa when it has one: the positions, then something in
// every entry after them that the contract lets it write, as wrong as can be
// if read.
template <class Mask, bool LISTS>
struct WordListing {
};
template <class Mask>
struct WordListing<Mask, true> {
    static offset list_starts(std::uint16_t *list, Mask first, offset at) noexcept
    {
        constexpr offset CHUNK = sizeof(Mask) * 8;
        offset n = 0;
        for (; first != 0; first &= first - 1)
            list[n++] = static_cast<std::uint16_t>(at + __builtin_ctzll(first));
        for (offset k = n; k < CHUNK / 2; ++k)
            list[k] = static_cast<std::uint16_t>(at + CHUNK - 1 - k);
        return n;
    }
};

// An instruction set for the vector expander on plain machine words, for the
// tests only, that gives the weakest answers the contract in
// filter/expand_vector.h allows where it leaves any freedom: first_bit(0) is
// FIRST_BIT_OF_ZERO, one end or the other of what it may be; list_starts,
// where LISTS has it, writes every entry it may; and the mask and
// COUNTS_TABS are parameters. all_paths takes each of them at both ends.
// Its functions are noexcept, as the expander's are, so that built here
// with exceptions no call in the expander has a path for one.
template <class Mask, unsigned FIRST_BIT_OF_ZERO, bool LISTS, bool COUNTS>
struct WordIsa : WordListing<Mask, LISTS> {
    using mask = Mask;
    static constexpr unsigned CHUNK = sizeof(Mask) * 8;
    static_assert(FIRST_BIT_OF_ZERO == CHUNK - 8 || FIRST_BIT_OF_ZERO == CHUNK,
                  "first_bit(0) at one end of what the contract allows");
    static constexpr bool COUNTS_TABS = COUNTS;

    static void mark_chunk(const unsigned char *p, mask &tabs, mask &marks) noexcept
    {
        tabs = marks = 0;
        for (unsigned i = 0; i < CHUNK; ++i) {
            tabs |= mask(p[i] == '\t') << i;
            marks |= mask(p[i] == '\t' || p[i] == '\r' || p[i] == '\n') << i;
        }
    }

    static void copy_64(unsigned char *out, const unsigned char *in) noexcept
    {
        std::memcpy(out, in, 64);
    }

    static void spaces_64(unsigned char *out) noexcept
    {
        std::memset(out, ' ', 64);
    }

    static unsigned count_bits(mask m) noexcept
    {
        return static_cast<unsigned>(__builtin_popcountll(m));
    }

    static unsigned first_bit(mask m) noexcept
    {
        return m == 0 ? FIRST_BIT_OF_ZERO : static_cast<unsigned>(__builtin_ctzll(m));
    }
};
#endif

// Every way this build's expander can work. kind says what the CPU must
// support to run it (expand_path_runs_here); in_program is false for the
// instruction sets only the tests have.
struct TestedPath {
    const char *name;
    void (*run)();
    int kind;
    bool in_program;
};

const TestedPath all_paths[] = {
    {"portable", expand_block_portable, EXPAND_PORTABLE, true},
#if PADCOLS_HAVE_SSE2
    {"sse2", expand_block_sse2, EXPAND_SSE2, true},
#endif
#if PADCOLS_HAVE_AVX2
    {"avx2", expand_block_avx2, EXPAND_AVX2, true},
#endif
#if PADCOLS_HAVE_AVX512
    {"avx512", expand_block_avx512, EXPAND_AVX512, true},
#endif
#if PADCOLS_HAVE_NEON
    {"neon", expand_block_neon, EXPAND_NEON, true},
#endif
#if PADCOLS_TEST_WORD_ISA
    // Named for their mask's bits, first_bit(0), and whether they list run
    // starts and count tabs.
    {"words64_zero56_lists_counts", expand_vector<WordIsa<std::uint64_t, 56, true, true>>,
     EXPAND_PORTABLE, false},
    {"words64_zero64", expand_vector<WordIsa<std::uint64_t, 64, false, false>>, EXPAND_PORTABLE,
     false},
    {"words32_zero24_counts", expand_vector<WordIsa<std::uint32_t, 24, false, true>>,
     EXPAND_PORTABLE, false},
    {"words32_zero32_lists", expand_vector<WordIsa<std::uint32_t, 32, true, false>>,
     EXPAND_PORTABLE, false},
#endif
};

// Resets the filter state for a run with the given tab stop.
inline void start_expansion(int stop)
{
    tab_stop = stop;
    cols_left = stop;
    in_pos = in_buf + BLOCK_SIZE;
    out_pos = out_buf;
}

// Places bytes at the end of the input block, as the pump does with a read.
inline void load_input(const char *bytes, std::size_t n)
{
    in_pos = in_buf + BLOCK_SIZE - n;
    std::memcpy(in_pos, bytes, n);
}

// Runs path over input: each time the input block is empty it is refilled
// with refill() bytes (at least 1, at most BLOCK_SIZE), and each call gets
// room() bytes of free output (at least 1), which are drained after it.
// Appends the output to out. Returns an empty string, or what went wrong when
// a call broke the expander's contract.
template <class Refill, class Room>
std::string expand_in_pieces(const std::string &input, int stop, void (*path)(), Refill refill,
                             Room room, std::string &out)
{
    start_expansion(stop);
    std::size_t fed = 0;
    std::size_t column = 0;
    for (;;) {
        if (in_pos == in_end) {
            if (fed == input.size())
                return "";
            const std::size_t n = std::min<std::size_t>(refill(), input.size() - fed);
            load_input(input.data() + fed, n);
            fed += n;
        }
        out_pos = out_end - room();
        unsigned char *const first = out_pos;
        path();
        out.append(reinterpret_cast<const char *>(first),
                   static_cast<std::size_t>(out_pos - first));
        if (in_pos != in_end && out_pos != out_end)
            return "returned with input left and output room";
        // The column the output has reached says what cols_left must be.
        const unsigned char *const line = last_line(first, out_pos);
        column = (line == first ? column : 0) + static_cast<std::size_t>(out_pos - line);
        const long owed = stop - static_cast<long>(column % static_cast<std::size_t>(stop));
        if (cols_left != owed)
            return "cols_left " + std::to_string(cols_left) + " after " +
                   std::to_string(out.size()) + " output bytes, where the column gives " +
                   std::to_string(owed);
    }
}

#endif

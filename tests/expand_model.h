// What the unit tests and the fuzz targets hold the expander to: a plain
// reference model, and a driver that runs an expander path the way the pump
// does but with refill and drain points of the caller's choosing.
#ifndef PADCOLS_EXPAND_MODEL_H
#define PADCOLS_EXPAND_MODEL_H

#include "filter/expand_paths.h"
#include "filter/filter_state.h"

#include <algorithm>
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

// Every way this build's expander can work: expand_block as the program
// calls it, then each path on its own. kind says what the CPU must support
// to run it (expand_path_runs_here).
struct TestedPath {
    const char *name;
    void (*run)();
    int kind;
};

inline const TestedPath all_paths[] = {
    {"dispatch", expand_block, EXPAND_PORTABLE},
    {"portable", expand_block_portable, EXPAND_PORTABLE},
#if PADCOLS_HAVE_SSE2
    {"sse2", expand_block_sse2, EXPAND_SSE2},
#endif
#if PADCOLS_HAVE_AVX2
    {"avx2", expand_block_avx2, EXPAND_AVX2},
#endif
#if PADCOLS_HAVE_AVX512
    {"avx512", expand_block_avx512, EXPAND_AVX512},
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
        for (const unsigned char *p = first; p != out_pos; ++p)
            column = *p == '\n' || *p == '\r' ? 0 : column + 1;
        const long owed = stop - static_cast<long>(column % static_cast<std::size_t>(stop));
        if (cols_left != owed)
            return "cols_left " + std::to_string(cols_left) + " after " +
                   std::to_string(out.size()) + " output bytes, where the column gives " +
                   std::to_string(owed);
    }
}

#endif

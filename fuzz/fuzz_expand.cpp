// Fuzz target: the expander on arbitrary bytes, with an arbitrary tab stop and
// arbitrary refill and drain points, on every path it has. The output must be
// the reference model's, and every call must keep the expander's contract.
//
// Input layout: byte 0 chooses the tab stop (bytes 0 and 1 for a wide one),
// bytes 2 to 5 seed the sizes of the refills and of the free output room per
// call, and the rest is the data.

#include "filter/expand_paths.h"
#include "filter/filter_state.h"
#include "expand_model.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// The paths this CPU can run, found once at start-up.
void (*paths[sizeof all_paths / sizeof all_paths[0]])();
std::size_t path_count;

// Sizes from 1 to BLOCK_SIZE, mostly small, from a xorshift generator.
struct Sizes {
    std::uint32_t state;
    std::size_t operator()()
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        const std::uint32_t limit = (state & 3) == 0 ? BLOCK_SIZE : 64;
        return 1 + (state >> 2) % limit;
    }
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    for (const TestedPath &path : all_paths) {
        if (expand_path_runs_here(path.kind))
            paths[path_count++] = path.run;
        else
            std::fprintf(stderr, "fuzz_expand: skipping the %s path, which this CPU cannot run\n",
                         path.name);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 6)
        return 0;
    const bool wide = data[0] & 0x80;
    const int stop = wide ? 1 + (data[0] << 8 | data[1]) % MAX_TAB_STOP : 1 + data[0] % 24;
    const std::uint32_t seed =
        (std::uint32_t(data[2]) | data[3] << 8 | data[4] << 16 | std::uint32_t(data[5]) << 24) | 1;
    // Wide stops with many tabs make huge outputs; a short input does as well.
    const std::size_t length = wide ? std::min<std::size_t>(size - 6, 600) : size - 6;
    const std::string input(reinterpret_cast<const char *>(data) + 6, length);
    const std::string expected = reference_expand(input, stop);

    // One output string for every path and input: kept at its largest, it
    // needs no new pages for each.
    static std::string out;
    for (std::size_t p = 0; p < path_count; ++p) {
        void (*const path)() = paths[p];
        out.clear();
        const std::string fault =
            expand_in_pieces(input, stop, path, Sizes{seed}, Sizes{seed * 2654435761u | 1}, out);
        if (!fault.empty() || out != expected) {
            std::fprintf(stderr, "stop %d: %s; output %zu bytes, expected %zu\n", stop,
                         fault.c_str(), out.size(), expected.size());
            std::abort();
        }
    }
    return 0;
}

// The path for any CPU: ordinary bytes go a machine word at a time. A word
// without a tab, CR or LF is copied whole and moves the column by its width,
// whose remainder modulo the tab stop is worked out once per call. A word
// holding a special byte is handled byte by byte up to and including that
// byte.
#include "expand_paths.h"
#include "expand_step.h"

#include <cstring>

void expand_block_portable()
{
    using word = std::size_t;
    constexpr std::size_t W = sizeof(word);
    constexpr word ones = ~word(0) / 0xff; // 0x0101...01
    constexpr word highs = ones * 0x80;    // 0x8080...80

    const CallStart start = start_call();
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
    end_call(start);
}

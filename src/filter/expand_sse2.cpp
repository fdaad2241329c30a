// The vector expander with SSE2, for every x86 CPU that has it: all of them
// in 64-bit mode, and on 32-bit x86 those made since about 2003. On 32-bit x86
// this file alone is compiled for SSE2, and expand_block runs it only when the
// CPU says it has SSE2. There, with eight registers and no 64-bit integer
// arithmetic, a chunk is 32 bytes with a 32-bit mask.
#include "expand_paths.h"
#include "expand_vector.h"

#include <emmintrin.h>

#include <cstdint>

namespace {

inline __m128i load_16(const unsigned char *p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}

inline void store_16(unsigned char *p, __m128i v)
{
    _mm_storeu_si128(reinterpret_cast<__m128i *>(p), v);
}

// What the vector expander needs, with SSE2 instructions.
struct Sse2 {
#if defined(__x86_64__)
    using mask = std::uint64_t;
#else
    using mask = std::uint32_t;
#endif

    static void mark_chunk(const unsigned char *p, mask &tabs, mask &marks)
    {
        const __m128i tab = _mm_set1_epi8('\t');
        const __m128i cr = _mm_set1_epi8('\r');
        const __m128i lf = _mm_set1_epi8('\n');
        tabs = 0;
        mask eols = 0;
        for (unsigned i = 0; i < sizeof(mask) * 8; i += 16) {
            const __m128i v = load_16(p + i);
            const __m128i e = _mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf));
            tabs |= mask(static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, tab)))) << i;
            eols |= mask(static_cast<unsigned>(_mm_movemask_epi8(e))) << i;
        }
        // Joined once for the chunk rather than per vector.
        marks = tabs | eols;
    }

    static void copy_64(unsigned char *out, const unsigned char *in)
    {
        const __m128i a = load_16(in), b = load_16(in + 16), c = load_16(in + 32),
                      d = load_16(in + 48);
        store_16(out, a);
        store_16(out + 16, b);
        store_16(out + 32, c);
        store_16(out + 48, d);
    }

    static void spaces_64(unsigned char *out)
    {
        const __m128i spaces = _mm_set1_epi8(' ');
        store_16(out, spaces);
        store_16(out + 16, spaces);
        store_16(out + 32, spaces);
        store_16(out + 48, spaces);
    }

    // Not every CPU with SSE2 has POPCNT, and counting bits without it costs
    // more than the tighter bound saves.
    static constexpr bool COUNTS_TABS = false;

    // The top bit stands in for an empty mask, which the instruction cannot
    // take.
    static unsigned first_bit(mask m)
    {
        m |= mask(1) << (sizeof(mask) * 8 - 1);
        return static_cast<unsigned>(sizeof(mask) == 8 ? __builtin_ctzll(m)
                                                       : __builtin_ctz(static_cast<unsigned>(m)));
    }
};

} // namespace

void expand_block_sse2()
{
    expand_vector<Sse2>();
}

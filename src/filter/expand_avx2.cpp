// The vector expander with AVX2, for x86 CPUs that have AVX2, BMI1, BMI2 and
// POPCNT. This file alone is compiled for them; expand_block runs it only when
// the CPU (and the system, which must save the wider registers) says it has
// them. On x86-64 a chunk is 64 bytes with a 64-bit mask; on 32-bit x86,
// which has no 64-bit integer arithmetic, 32 bytes with a 32-bit mask.
#include "expand_paths.h"
#include "expand_vector.h"

#include <immintrin.h>

#include <cstdint>

namespace {

inline __m256i load_32(const unsigned char *p)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}

inline void store_32(unsigned char *p, __m256i v)
{
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(p), v);
}

// What the vector expander needs, with AVX2 instructions.
struct Avx2 {
#if defined(__x86_64__)
    using mask = std::uint64_t;
#else
    using mask = std::uint32_t;
#endif

    static mask bits_32(__m256i v)
    {
        return static_cast<std::uint32_t>(_mm256_movemask_epi8(v));
    }

    static void mark_chunk(const unsigned char *p, mask &tabs, mask &marks)
    {
        const __m256i tab = _mm256_set1_epi8('\t');
        // A byte is a mark when the entry its low four bits pick (0 if its top
        // bit is set) equals it: 9, 10 and 13 hold their index, the rest 0xff.
        const __m256i own =
            _mm256_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, 9, 10, -1, -1, 13, -1, -1, -1, -1,
                             -1, -1, -1, -1, -1, -1, -1, 9, 10, -1, -1, 13, -1, -1);
        tabs = marks = 0;
        for (unsigned i = 0; i < sizeof(mask) * 8; i += 32) {
            const __m256i a = load_32(p + i);
            tabs |= bits_32(_mm256_cmpeq_epi8(a, tab)) << i;
            marks |= bits_32(_mm256_cmpeq_epi8(_mm256_shuffle_epi8(own, a), a)) << i;
        }
    }

    static void copy_64(unsigned char *out, const unsigned char *in)
    {
        const __m256i a = load_32(in), b = load_32(in + 32);
        store_32(out, a);
        store_32(out + 32, b);
    }

    static void spaces_64(unsigned char *out)
    {
        const __m256i spaces = _mm256_set1_epi8(' ');
        store_32(out, spaces);
        store_32(out + 32, spaces);
    }

    // POPCNT counts a chunk's tabs in one instruction.
    static constexpr bool COUNTS_TABS = true;

    static unsigned count_bits(mask m)
    {
        return static_cast<unsigned>(sizeof(mask) == 8
                                         ? __builtin_popcountll(m)
                                         : __builtin_popcount(static_cast<unsigned>(m)));
    }

    static unsigned first_bit(mask m)
    {
#if defined(__x86_64__)
        return static_cast<unsigned>(_tzcnt_u64(m));
#else
        return static_cast<unsigned>(_tzcnt_u32(m));
#endif
    }
};

} // namespace

void expand_block_avx2()
{
    expand_vector<Avx2>();
}

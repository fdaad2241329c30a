// The vector expander with AVX-512, for x86-64 CPUs that have AVX-512 F, BW
// and VBMI2, BMI1, BMI2, LZCNT and POPCNT. This file alone is compiled for
// them; expand_block runs it only when the CPU (and the system, which must
// save the opmask and 512-bit registers) says it has them. A chunk is one
// 64-byte vector, whose compares give the mask registers that are the
// chunk's bitmaps, and whose run starts are listed by one compress.
#include "expand_paths.h"
#include "expand_vector.h"

#include <immintrin.h>

#include <cassert>
#include <cstdint>

namespace {

// What the vector expander needs, with AVX-512 instructions.
struct Avx512 {
    using mask = std::uint64_t;

    static void mark_chunk(const unsigned char *p, mask &tabs, mask &marks)
    {
        const __m512i v = _mm512_loadu_si512(p);
        // A byte is a mark exactly when the entry its low four bits pick in
        // its 16-byte lane (0 for a byte with the top bit set) is the byte
        // itself: entries 9, 10 and 13 hold their own index, every other one
        // 0xff, which no byte that picks it can equal.
        const __m512i own =
            _mm512_set4_epi32(static_cast<int>(0xffff0dffu), static_cast<int>(0xff0a09ffu), -1, -1);
        tabs = _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8('\t'));
        marks = _mm512_cmpeq_epi8_mask(_mm512_shuffle_epi8(own, v), v);
    }

    // The bytes 0 to 63 compressed under first give the positions in one
    // step; a chunk has at most 32 run starts, so the lower 32 of them,
    // widened and moved by at, fill one 64-byte store.
    static offset list_starts(std::uint16_t *list, mask first, offset at)
    {
        const __m512i index = _mm512_set_epi64(
            0x3f3e3d3c3b3a3938, 0x3736353433323130, 0x2f2e2d2c2b2a2928, 0x2726252423222120,
            0x1f1e1d1c1b1a1918, 0x1716151413121110, 0x0f0e0d0c0b0a0908, 0x0706050403020100);
        // Merged into index rather than zeroed: the zeroing form waits on
        // the old value of its destination register on AMD CPUs. The bytes
        // past the count are never read.
        const __m512i packed = _mm512_mask_compress_epi8(index, first, index);
        // (The lower half taken with an all-ones mask: GCC 12's plain cast
        // draws a false warning of an uninitialized value.)
        const __m256i low = _mm512_maskz_extracti64x4_epi64(0xf, packed, 0);
        // at is a multiple of 64, above every bit of a position in the chunk.
        assert(at % 64 == 0); // GCOVR_EXCL_BR_LINE: assertion
        const __m512i wide =
            _mm512_or_si512(_mm512_cvtepu8_epi16(low), _mm512_set1_epi16(static_cast<short>(at)));
        _mm512_storeu_si512(list, wide);
        return static_cast<offset>(_mm_popcnt_u64(first));
    }

    static void copy_64(unsigned char *out, const unsigned char *in)
    {
        _mm512_storeu_si512(out, _mm512_loadu_si512(in));
    }

    static void spaces_64(unsigned char *out)
    {
        _mm512_storeu_si512(out, _mm512_set1_epi8(' '));
    }

    static constexpr bool COUNTS_TABS = true;

    static unsigned count_bits(mask m)
    {
        return static_cast<unsigned>(_mm_popcnt_u64(m));
    }

    static unsigned first_bit(mask m)
    {
        return static_cast<unsigned>(_tzcnt_u64(m));
    }
};

} // namespace

void expand_block_avx512()
{
    expand_vector<Avx512>();
}

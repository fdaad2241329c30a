// The vector expander with AVX2, built for x86-64 CPUs that have AVX2, BMI1,
// BMI2 and POPCNT. This file alone is compiled for them; expand_block runs it only
// when the CPU says it has them.
#include "expand_paths.h"

#include <immintrin.h>

#include <cstdint>

namespace {

using mask = std::uint64_t;

inline __m256i load_32(const unsigned char *p)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}

inline void store_32(unsigned char *p, __m256i v)
{
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(p), v);
}

inline mask bits_32(__m256i v)
{
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(v));
}

inline void mark_chunk(const unsigned char *p, mask &tabs, mask &eols)
{
    const __m256i tab = _mm256_set1_epi8('\t');
    const __m256i cr = _mm256_set1_epi8('\r');
    const __m256i lf = _mm256_set1_epi8('\n');
    const __m256i a = load_32(p);
    const __m256i b = load_32(p + 32);
    tabs = bits_32(_mm256_cmpeq_epi8(a, tab)) | bits_32(_mm256_cmpeq_epi8(b, tab)) << 32;
    eols = bits_32(_mm256_or_si256(_mm256_cmpeq_epi8(a, cr), _mm256_cmpeq_epi8(a, lf))) |
           bits_32(_mm256_or_si256(_mm256_cmpeq_epi8(b, cr), _mm256_cmpeq_epi8(b, lf))) << 32;
}

inline void copy_64(unsigned char *out, const unsigned char *in)
{
    const __m256i a = load_32(in);
    const __m256i b = load_32(in + 32);
    store_32(out, a);
    store_32(out + 32, b);
}

inline void spaces_64(unsigned char *out)
{
    const __m256i spaces = _mm256_set1_epi8(' ');
    store_32(out, spaces);
    store_32(out + 32, spaces);
}

constexpr bool HAS_POPCNT = true;

inline unsigned count_bits(mask m)
{
    return static_cast<unsigned>(__builtin_popcountll(m));
}

inline unsigned first_bit(mask m)
{
    return static_cast<unsigned>(_tzcnt_u64(m)); // 64 for 0
}

inline unsigned highest_bit(mask m)
{
    return 63u - static_cast<unsigned>(__builtin_clzll(m));
}

} // namespace

#include "expand_walk.h"

void expand_block_avx2()
{
    expand_walk();
}

// Eight MD5 messages side by side in the 32-bit lanes of AVX2 vectors. Only
// this file is compiled for AVX2, and only its own functions: the standard
// headers come before the target switch, so no shared inline code is built
// with instructions an older processor lacks.
//
// Not on Windows: GCC for 64-bit Windows does not align the stack to 32 bytes
// for the vectors it spills there, yet moves them as if it did. The lanes are
// hashed one after another there.
#include <cstddef>
#include <cstdint>

#include "hash/md5_lanes.h"

#if (defined(__x86_64__) || defined(__i386__)) && !defined(_WIN32)
#pragma GCC push_options
#pragma GCC target("avx2")
#include <immintrin.h>

#include "hash/md5_rounds.h"

namespace mendly::md5 {
namespace {

struct Avx2Ops {
    using V = __m256i;
    static V add(V x, V y) { return _mm256_add_epi32(x, y); }
    static V and_(V x, V y) { return _mm256_and_si256(x, y); }
    static V or_(V x, V y) { return _mm256_or_si256(x, y); }
    static V xor_(V x, V y) { return _mm256_xor_si256(x, y); }
    static V not_(V x) { return _mm256_xor_si256(x, _mm256_set1_epi32(-1)); }
    static V constant(std::uint32_t k) { return _mm256_set1_epi32(static_cast<int>(k)); }
    template <int S>
    static V rotl(V x) {
        return _mm256_or_si256(_mm256_slli_epi32(x, S), _mm256_srli_epi32(x, 32 - S));
    }
};

// Eight words of each lane in, word by word across the lanes out:
// out[w] holds word w of lanes 0..7.
void transpose(const __m256i* in, __m256i* out) {
    const __m256i t0 = _mm256_unpacklo_epi32(in[0], in[1]);
    const __m256i t1 = _mm256_unpackhi_epi32(in[0], in[1]);
    const __m256i t2 = _mm256_unpacklo_epi32(in[2], in[3]);
    const __m256i t3 = _mm256_unpackhi_epi32(in[2], in[3]);
    const __m256i t4 = _mm256_unpacklo_epi32(in[4], in[5]);
    const __m256i t5 = _mm256_unpackhi_epi32(in[4], in[5]);
    const __m256i t6 = _mm256_unpacklo_epi32(in[6], in[7]);
    const __m256i t7 = _mm256_unpackhi_epi32(in[6], in[7]);
    const __m256i u0 = _mm256_unpacklo_epi64(t0, t2);
    const __m256i u1 = _mm256_unpackhi_epi64(t0, t2);
    const __m256i u2 = _mm256_unpacklo_epi64(t1, t3);
    const __m256i u3 = _mm256_unpackhi_epi64(t1, t3);
    const __m256i u4 = _mm256_unpacklo_epi64(t4, t6);
    const __m256i u5 = _mm256_unpackhi_epi64(t4, t6);
    const __m256i u6 = _mm256_unpacklo_epi64(t5, t7);
    const __m256i u7 = _mm256_unpackhi_epi64(t5, t7);
    out[0] = _mm256_permute2x128_si256(u0, u4, 0x20);
    out[1] = _mm256_permute2x128_si256(u1, u5, 0x20);
    out[2] = _mm256_permute2x128_si256(u2, u6, 0x20);
    out[3] = _mm256_permute2x128_si256(u3, u7, 0x20);
    out[4] = _mm256_permute2x128_si256(u0, u4, 0x31);
    out[5] = _mm256_permute2x128_si256(u1, u5, 0x31);
    out[6] = _mm256_permute2x128_si256(u2, u6, 0x31);
    out[7] = _mm256_permute2x128_si256(u3, u7, 0x31);
}

}  // namespace

void blocksEightWide(std::uint32_t (*state)[Md5Lanes::kLanes], const unsigned char* const* data, std::size_t blocks) {
    __m256i v[4];
    for (int w = 0; w < 4; ++w) v[w] = _mm256_load_si256(reinterpret_cast<const __m256i*>(state[w]));
    for (std::size_t b = 0; b < blocks; ++b) {
        __m256i rows[8];
        __m256i words[16];
        for (int half = 0; half < 2; ++half) {
            for (int lane = 0; lane < 8; ++lane) {
                rows[lane] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data[lane] + b * 64 + half * 32));
            }
            transpose(rows, words + half * 8);
        }
        Rounds<Avx2Ops>::block(v[0], v[1], v[2], v[3], words);
    }
    for (int w = 0; w < 4; ++w) _mm256_store_si256(reinterpret_cast<__m256i*>(state[w]), v[w]);
}

}  // namespace mendly::md5

#pragma GCC pop_options

namespace mendly {
bool Md5Lanes::vectorsAvailable() { return __builtin_cpu_supports("avx2"); }
}  // namespace mendly

#else

namespace mendly {
bool Md5Lanes::vectorsAvailable() { return false; }
namespace md5 {
void blocksEightWide(std::uint32_t (*)[Md5Lanes::kLanes], const unsigned char* const*, std::size_t) {}
}  // namespace md5
}  // namespace mendly

#endif

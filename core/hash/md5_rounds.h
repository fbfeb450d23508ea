#pragma once
// The 64 steps of MD5's compression function, written once for any word
// type: a single 32-bit word (one message) or a vector of eight of them
// (eight messages side by side). `Ops` supplies the word operations:
//   using V = ...; add, and_, or_, xor_, not_, constant(std::uint32_t),
//   template <int S> rotl(V).
// Header-only so that each instantiation is compiled with its own
// target's instructions.
#include <cstdint>

namespace mendly::md5 {

// MD5's initial chaining value.
inline constexpr std::uint32_t kInit[4] = {0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u};

template <class Ops>
struct Rounds {
    using V = typename Ops::V;

    static V f(V x, V y, V z) { return Ops::xor_(z, Ops::and_(x, Ops::xor_(y, z))); }
    static V g(V x, V y, V z) { return Ops::xor_(y, Ops::and_(z, Ops::xor_(x, y))); }
    static V h(V x, V y, V z) { return Ops::xor_(Ops::xor_(x, y), z); }
    static V i(V x, V y, V z) { return Ops::xor_(y, Ops::or_(x, Ops::not_(z))); }

    template <V (*Fn)(V, V, V), int S>
    static void step(V& a, V b, V c, V d, V word, std::uint32_t k) {
        a = Ops::add(b, Ops::template rotl<S>(Ops::add(Ops::add(a, Fn(b, c, d)), Ops::add(word, Ops::constant(k)))));
    }

    // One 64-byte block: `m` holds its sixteen little-endian words.
    static void block(V& a0, V& b0, V& c0, V& d0, const V* m) {
        V a = a0, b = b0, c = c0, d = d0;
        step<f, 7>(a, b, c, d, m[0], 0xd76aa478u);
        step<f, 12>(d, a, b, c, m[1], 0xe8c7b756u);
        step<f, 17>(c, d, a, b, m[2], 0x242070dbu);
        step<f, 22>(b, c, d, a, m[3], 0xc1bdceeeu);
        step<f, 7>(a, b, c, d, m[4], 0xf57c0fafu);
        step<f, 12>(d, a, b, c, m[5], 0x4787c62au);
        step<f, 17>(c, d, a, b, m[6], 0xa8304613u);
        step<f, 22>(b, c, d, a, m[7], 0xfd469501u);
        step<f, 7>(a, b, c, d, m[8], 0x698098d8u);
        step<f, 12>(d, a, b, c, m[9], 0x8b44f7afu);
        step<f, 17>(c, d, a, b, m[10], 0xffff5bb1u);
        step<f, 22>(b, c, d, a, m[11], 0x895cd7beu);
        step<f, 7>(a, b, c, d, m[12], 0x6b901122u);
        step<f, 12>(d, a, b, c, m[13], 0xfd987193u);
        step<f, 17>(c, d, a, b, m[14], 0xa679438eu);
        step<f, 22>(b, c, d, a, m[15], 0x49b40821u);

        step<g, 5>(a, b, c, d, m[1], 0xf61e2562u);
        step<g, 9>(d, a, b, c, m[6], 0xc040b340u);
        step<g, 14>(c, d, a, b, m[11], 0x265e5a51u);
        step<g, 20>(b, c, d, a, m[0], 0xe9b6c7aau);
        step<g, 5>(a, b, c, d, m[5], 0xd62f105du);
        step<g, 9>(d, a, b, c, m[10], 0x02441453u);
        step<g, 14>(c, d, a, b, m[15], 0xd8a1e681u);
        step<g, 20>(b, c, d, a, m[4], 0xe7d3fbc8u);
        step<g, 5>(a, b, c, d, m[9], 0x21e1cde6u);
        step<g, 9>(d, a, b, c, m[14], 0xc33707d6u);
        step<g, 14>(c, d, a, b, m[3], 0xf4d50d87u);
        step<g, 20>(b, c, d, a, m[8], 0x455a14edu);
        step<g, 5>(a, b, c, d, m[13], 0xa9e3e905u);
        step<g, 9>(d, a, b, c, m[2], 0xfcefa3f8u);
        step<g, 14>(c, d, a, b, m[7], 0x676f02d9u);
        step<g, 20>(b, c, d, a, m[12], 0x8d2a4c8au);

        step<h, 4>(a, b, c, d, m[5], 0xfffa3942u);
        step<h, 11>(d, a, b, c, m[8], 0x8771f681u);
        step<h, 16>(c, d, a, b, m[11], 0x6d9d6122u);
        step<h, 23>(b, c, d, a, m[14], 0xfde5380cu);
        step<h, 4>(a, b, c, d, m[1], 0xa4beea44u);
        step<h, 11>(d, a, b, c, m[4], 0x4bdecfa9u);
        step<h, 16>(c, d, a, b, m[7], 0xf6bb4b60u);
        step<h, 23>(b, c, d, a, m[10], 0xbebfbc70u);
        step<h, 4>(a, b, c, d, m[13], 0x289b7ec6u);
        step<h, 11>(d, a, b, c, m[0], 0xeaa127fau);
        step<h, 16>(c, d, a, b, m[3], 0xd4ef3085u);
        step<h, 23>(b, c, d, a, m[6], 0x04881d05u);
        step<h, 4>(a, b, c, d, m[9], 0xd9d4d039u);
        step<h, 11>(d, a, b, c, m[12], 0xe6db99e5u);
        step<h, 16>(c, d, a, b, m[15], 0x1fa27cf8u);
        step<h, 23>(b, c, d, a, m[2], 0xc4ac5665u);

        step<i, 6>(a, b, c, d, m[0], 0xf4292244u);
        step<i, 10>(d, a, b, c, m[7], 0x432aff97u);
        step<i, 15>(c, d, a, b, m[14], 0xab9423a7u);
        step<i, 21>(b, c, d, a, m[5], 0xfc93a039u);
        step<i, 6>(a, b, c, d, m[12], 0x655b59c3u);
        step<i, 10>(d, a, b, c, m[3], 0x8f0ccc92u);
        step<i, 15>(c, d, a, b, m[10], 0xffeff47du);
        step<i, 21>(b, c, d, a, m[1], 0x85845dd1u);
        step<i, 6>(a, b, c, d, m[8], 0x6fa87e4fu);
        step<i, 10>(d, a, b, c, m[15], 0xfe2ce6e0u);
        step<i, 15>(c, d, a, b, m[6], 0xa3014314u);
        step<i, 21>(b, c, d, a, m[13], 0x4e0811a1u);
        step<i, 6>(a, b, c, d, m[4], 0xf7537e82u);
        step<i, 10>(d, a, b, c, m[11], 0xbd3af235u);
        step<i, 15>(c, d, a, b, m[2], 0x2ad7d2bbu);
        step<i, 21>(b, c, d, a, m[9], 0xeb86d391u);

        a0 = Ops::add(a0, a);
        b0 = Ops::add(b0, b);
        c0 = Ops::add(c0, c);
        d0 = Ops::add(d0, d);
    }
};

}  // namespace mendly::md5

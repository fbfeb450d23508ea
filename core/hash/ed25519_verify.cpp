#include "hash/ed25519_verify.h"

#include "hash/sha512.h"

#include <cstdint>
#include <cstring>

namespace mendly {
namespace {

using Bytes32 = std::array<unsigned char, 32>;
using u64 = std::uint64_t;
__extension__ typedef unsigned __int128 u128;

constexpr u64 kMask51 = (u64{1} << 51) - 1;

// --- The field of integers modulo p = 2^255 - 19 ----------------------------
// Five limbs of 51 bits (a little more between operations); every operation
// leaves its limbs below 2^52.

struct Fe {
    u64 v[5];
};

// Carries each limb's excess into the next, the top one folded back times 19.
void carry(Fe& a) {
    for (int pass = 0; pass < 3; ++pass) {
        for (int i = 0; i < 4; ++i) {
            a.v[i + 1] += a.v[i] >> 51;
            a.v[i] &= kMask51;
        }
        a.v[0] += 19 * (a.v[4] >> 51);
        a.v[4] &= kMask51;
    }
}

Fe feSmall(u64 n) { return Fe{{n, 0, 0, 0, 0}}; }

Fe add(const Fe& a, const Fe& b) {
    Fe r;
    for (int i = 0; i < 5; ++i) r.v[i] = a.v[i] + b.v[i];
    carry(r);
    return r;
}

// a - b as a + 4p - b, so that no limb goes below zero.
Fe sub(const Fe& a, const Fe& b) {
    constexpr u64 k4p0 = 4 * ((u64{1} << 51) - 19);
    constexpr u64 k4pi = 4 * ((u64{1} << 51) - 1);
    Fe r;
    r.v[0] = a.v[0] + k4p0 - b.v[0];
    for (int i = 1; i < 5; ++i) r.v[i] = a.v[i] + k4pi - b.v[i];
    carry(r);
    return r;
}

Fe mul(const Fe& a, const Fe& b) {
    const u64* x = a.v;
    const u64* y = b.v;
    const u64 y1 = 19 * y[1], y2 = 19 * y[2], y3 = 19 * y[3], y4 = 19 * y[4];
    u128 t[5];
    t[0] = (u128)x[0] * y[0] + (u128)x[1] * y4 + (u128)x[2] * y3 + (u128)x[3] * y2 + (u128)x[4] * y1;
    t[1] = (u128)x[0] * y[1] + (u128)x[1] * y[0] + (u128)x[2] * y4 + (u128)x[3] * y3 + (u128)x[4] * y2;
    t[2] = (u128)x[0] * y[2] + (u128)x[1] * y[1] + (u128)x[2] * y[0] + (u128)x[3] * y4 + (u128)x[4] * y3;
    t[3] = (u128)x[0] * y[3] + (u128)x[1] * y[2] + (u128)x[2] * y[1] + (u128)x[3] * y[0] + (u128)x[4] * y4;
    t[4] = (u128)x[0] * y[4] + (u128)x[1] * y[3] + (u128)x[2] * y[2] + (u128)x[3] * y[1] + (u128)x[4] * y[0];
    for (int i = 0; i < 4; ++i) {
        t[i + 1] += t[i] >> 51;
        t[i] &= kMask51;
    }
    // The excess of the top limb is worth 19 times as much at the bottom.
    const u128 top = t[4] >> 51;
    t[4] &= kMask51;
    t[0] += top * 19;
    t[1] += t[0] >> 51;
    t[0] &= kMask51;
    Fe r;
    for (int i = 0; i < 5; ++i) r.v[i] = static_cast<u64>(t[i]);
    carry(r);
    return r;
}

Fe square(const Fe& a) { return mul(a, a); }

// a^e, with the exponent as 32 little-endian bytes.
Fe power(const Fe& a, const Bytes32& e) {
    Fe r = feSmall(1);
    for (int bit = 255; bit >= 0; --bit) {
        r = square(r);
        if ((e[bit / 8] >> (bit % 8)) & 1) r = mul(r, a);
    }
    return r;
}

// The canonical 32 little-endian bytes (the value reduced below p).
Bytes32 toBytes(Fe a) {
    carry(a);
    // Now a < 2^255; subtract p once if a >= p, i.e. if a + 19 reaches 2^255.
    u64 q = (a.v[0] + 19) >> 51;
    for (int i = 1; i < 5; ++i) q = (a.v[i] + q) >> 51;
    a.v[0] += 19 * q;
    for (int i = 0; i < 4; ++i) {
        a.v[i + 1] += a.v[i] >> 51;
        a.v[i] &= kMask51;
    }
    a.v[4] &= kMask51;
    Bytes32 out{};
    int bitPos = 0;
    for (const u64 limb : a.v) {
        for (int b = 0; b < 51; ++b, ++bitPos) {
            if ((limb >> b) & 1) out[bitPos / 8] |= static_cast<unsigned char>(1u << (bitPos % 8));
        }
    }
    return out;
}

// The low 255 bits of `s` (the top bit is left to the caller).
Fe fromBytes(const Bytes32& s) {
    Fe r{};
    for (int bitPos = 0; bitPos < 255; ++bitPos) {
        if ((s[bitPos / 8] >> (bitPos % 8)) & 1) r.v[bitPos / 51] |= u64{1} << (bitPos % 51);
    }
    return r;
}

bool equal(const Fe& a, const Fe& b) { return toBytes(a) == toBytes(b); }
bool isOdd(const Fe& a) { return toBytes(a)[0] & 1; }

Bytes32 repeatedBytes(unsigned char low, unsigned char middle, unsigned char high) {
    Bytes32 b;
    b.fill(middle);
    b[0] = low;
    b[31] = high;
    return b;
}

const Bytes32 kP = repeatedBytes(0xed, 0xff, 0x7f);           // 2^255 - 19
const Bytes32 kPMinus2 = repeatedBytes(0xeb, 0xff, 0x7f);     // for inverses
const Bytes32 kSqrtExponent = repeatedBytes(0xfd, 0xff, 0x0f);  // (p - 5) / 8
const Bytes32 kRootExponent = repeatedBytes(0xfb, 0xff, 0x1f);  // (p - 1) / 4

Fe invert(const Fe& a) { return power(a, kPMinus2); }

// d = -121665 / 121666 and sqrt(-1) = 2^((p - 1) / 4).
const Fe kD = sub(feSmall(0), mul(feSmall(121665), invert(feSmall(121666))));
const Fe kD2 = add(kD, kD);
const Fe kSqrtMinusOne = power(feSmall(2), kRootExponent);

// True when the little-endian number `a` is below `b`.
bool lessThan(const Bytes32& a, const Bytes32& b) {
    for (int i = 31; i >= 0; --i) {
        if (a[i] != b[i]) return a[i] < b[i];
    }
    return false;
}

// --- Points of the curve, in extended coordinates (X:Y:Z:T), x = X/Z, y = Y/Z, xy = T/Z

struct Point {
    Fe x, y, z, t;
};

Point identity() { return Point{feSmall(0), feSmall(1), feSmall(1), feSmall(0)}; }

// The unified addition for a = -1; also right for doubling.
Point addPoints(const Point& p, const Point& q) {
    const Fe a = mul(sub(p.y, p.x), sub(q.y, q.x));
    const Fe b = mul(add(p.y, p.x), add(q.y, q.x));
    const Fe c = mul(mul(p.t, kD2), q.t);
    const Fe d = mul(add(p.z, p.z), q.z);
    const Fe e = sub(b, a), f = sub(d, c), g = add(d, c), h = add(b, a);
    return Point{mul(e, f), mul(g, h), mul(f, g), mul(e, h)};
}

Point negate(const Point& p) { return Point{sub(feSmall(0), p.x), p.y, p.z, sub(feSmall(0), p.t)}; }

// [s]p, the scalar as 32 little-endian bytes.
Point multiply(const Point& p, const Bytes32& s) {
    Point r = identity();
    for (int bit = 255; bit >= 0; --bit) {
        r = addPoints(r, r);
        if ((s[bit / 8] >> (bit % 8)) & 1) r = addPoints(r, p);
    }
    return r;
}

Bytes32 encode(const Point& p) {
    const Fe zInverse = invert(p.z);
    Bytes32 out = toBytes(mul(p.y, zInverse));
    if (isOdd(mul(p.x, zInverse))) out[31] |= 0x80;
    return out;
}

// Decodes a point; false for a y that is not below p, a y with no x on the
// curve, and "x = 0 with the sign bit set".
bool decode(const Bytes32& encoded, Point& out) {
    Bytes32 yBytes = encoded;
    const bool xOdd = (yBytes[31] & 0x80) != 0;
    yBytes[31] &= 0x7f;
    if (!lessThan(yBytes, kP)) return false;
    const Fe y = fromBytes(yBytes);
    const Fe yy = square(y);
    const Fe u = sub(yy, feSmall(1));
    const Fe v = add(mul(kD, yy), feSmall(1));
    const Fe v3 = mul(square(v), v);
    const Fe v7 = mul(square(v3), v);
    Fe x = mul(mul(u, v3), power(mul(u, v7), kSqrtExponent));
    const Fe vxx = mul(v, square(x));
    if (!equal(vxx, u)) {
        if (!equal(vxx, sub(feSmall(0), u))) return false;
        x = mul(x, kSqrtMinusOne);
    }
    const bool xIsZero = toBytes(x) == Bytes32{};
    if (xIsZero && xOdd) return false;
    if (isOdd(x) != xOdd) x = sub(feSmall(0), x);
    out = Point{x, y, feSmall(1), mul(x, y)};
    return true;
}

// --- Scalars modulo the group order L = 2^252 + 27742317777372353535851937790883648493

const Bytes32 kL = {0xed, 0xd3, 0xf5, 0x5c, 0x1a, 0x63, 0x12, 0x58, 0xd6, 0x9c, 0xf7,
                    0xa2, 0xde, 0xf9, 0xde, 0x14, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10};

// The 64-byte little-endian number `wide` modulo L, by binary long division:
// the remainder stays below L < 2^253, so doubling it never leaves 256 bits.
Bytes32 reduceModL(const Sha512::Digest& wide) {
    Bytes32 r{};
    for (int bit = 511; bit >= 0; --bit) {
        unsigned carryBit = (wide[bit / 8] >> (bit % 8)) & 1;
        for (auto& byte : r) {
            const unsigned doubled = (static_cast<unsigned>(byte) << 1) | carryBit;
            byte = static_cast<unsigned char>(doubled);
            carryBit = doubled >> 8;
        }
        if (!lessThan(r, kL)) {
            int borrow = 0;
            for (int i = 0; i < 32; ++i) {
                const int diff = static_cast<int>(r[i]) - kL[i] - borrow;
                borrow = diff < 0 ? 1 : 0;
                r[i] = static_cast<unsigned char>(diff + (borrow << 8));
            }
        }
    }
    return r;
}

const Bytes32 kBaseEncoding = repeatedBytes(0x58, 0x66, 0x66);  // y = 4/5, x even

const Bytes32 kIdentityEncoding = [] {
    Bytes32 one{};
    one[0] = 1;
    return one;
}();

}  // namespace

bool ed25519PublicKeyIsStrong(const std::array<unsigned char, 32>& publicKey) {
    Point a;
    if (!decode(publicKey, a)) return false;
    for (int i = 0; i < 3; ++i) a = addPoints(a, a);
    return encode(a) != kIdentityEncoding;
}

bool ed25519SignatureIsCanonical(const std::array<unsigned char, 64>& signature) {
    Bytes32 s;
    std::memcpy(s.data(), signature.data() + 32, 32);
    return lessThan(s, kL);
}

bool ed25519Verify(std::string_view message, const std::array<unsigned char, 64>& signature,
                   const std::array<unsigned char, 32>& publicKey) {
    Bytes32 rBytes, s;
    std::memcpy(rBytes.data(), signature.data(), 32);
    std::memcpy(s.data(), signature.data() + 32, 32);
    if (!lessThan(s, kL)) return false;
    Point a, base;
    if (!decode(publicKey, a) || !decode(kBaseEncoding, base)) return false;

    Sha512 hash;
    hash.update(rBytes.data(), rBytes.size());
    hash.update(publicKey.data(), publicKey.size());
    hash.update(message);
    const Bytes32 k = reduceModL(hash.finish());

    // [S]B - [k]A must be R; comparing the canonical encodings also refuses
    // an R that is not one.
    const Point check = addPoints(multiply(base, s), negate(multiply(a, k)));
    return encode(check) == rBytes;
}

}  // namespace mendly

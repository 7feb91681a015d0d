#include "port/d3dx9/image.h"

// Resizing to a power of two and halving for mip levels: whole rows through
// a separable filter in fixed point, SSE2 where the compiler targets it.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace d3dx::image {

namespace {

constexpr int kWeightBits = 14; // filter weights sum to 1 << 14
constexpr int kMidBits = 7;     // the horizontal pass keeps 7 fraction bits

// The filter taps of every destination texel along one axis, flattened.
struct Taps {
    std::vector<uint32_t> first; // first tap of destination d; first[d + 1] ends it
    std::vector<uint32_t> index; // source texel
    std::vector<int16_t> weight; // out of 1 << kWeightBits
};

Taps makeTaps(UINT src, UINT dst) {
    Taps t;
    t.first.reserve((size_t)dst + 1);
    t.first.push_back(0);
    const double scale = (double)src / dst;
    std::vector<double> w;
    std::vector<uint32_t> at;
    std::vector<int> q;
    for (UINT d = 0; d < dst; ++d) {
        w.clear();
        at.clear();
        if (scale > 1.0) {
            // Area average over [d * scale, (d + 1) * scale).
            const double a = d * scale, b = std::min<double>((d + 1) * scale, src);
            for (UINT s = (UINT)a; s < src && s < b; ++s) {
                const double cover = std::min<double>(b, s + 1) - std::max<double>(a, s);
                if (cover > 0) {
                    at.push_back(s);
                    w.push_back(cover);
                }
            }
        } else {
            // Linear between the two nearest texel centres.
            const double c = (d + 0.5) * scale - 0.5;
            const double f = std::floor(c);
            const double frac = c - f;
            at.push_back((UINT)std::clamp<double>(f, 0, src - 1));
            at.push_back((UINT)std::clamp<double>(f + 1, 0, src - 1));
            w.push_back(1 - frac);
            w.push_back(frac);
        }
        double total = 0;
        for (double x : w) total += x;
        // Integer weights that sum exactly to one; the rounding goes to the
        // largest, and taps left with no weight are dropped.
        q.assign(w.size(), 0);
        int sum = 0;
        size_t largest = 0;
        for (size_t i = 0; i < w.size(); ++i) {
            q[i] = (int)std::lround(w[i] / total * (1 << kWeightBits));
            sum += q[i];
            if (w[i] > w[largest]) largest = i;
        }
        q[largest] += (1 << kWeightBits) - sum;
        for (size_t i = 0; i < w.size(); ++i)
            if (q[i] > 0) {
                t.index.push_back(at[i]);
                t.weight.push_back((int16_t)q[i]);
            }
        t.first.push_back((uint32_t)t.index.size());
    }
    return t;
}

// One source row filtered horizontally: 4 channels per texel in memory
// order (B, G, R, A), with kMidBits fraction bits.
void horizontal(const uint32_t* src, const Taps& t, UINT dstWidth, int16_t* out) {
    for (UINT d = 0; d < dstWidth; ++d) {
        const uint32_t b = t.first[d], e = t.first[d + 1];
#if defined(__SSE2__)
        const __m128i zero = _mm_setzero_si128();
        __m128i acc = zero;
        uint32_t k = b;
        for (; k + 1 < e; k += 2) {
            const __m128i p0 = _mm_unpacklo_epi8(_mm_cvtsi32_si128((int)src[t.index[k]]), zero);
            const __m128i p1 = _mm_unpacklo_epi8(_mm_cvtsi32_si128((int)src[t.index[k + 1]]), zero);
            const __m128i w = _mm_set1_epi32((int)((uint32_t)(uint16_t)t.weight[k] | (uint32_t)(uint16_t)t.weight[k + 1] << 16));
            acc = _mm_add_epi32(acc, _mm_madd_epi16(_mm_unpacklo_epi16(p0, p1), w));
        }
        if (k < e) {
            const __m128i p0 = _mm_unpacklo_epi8(_mm_cvtsi32_si128((int)src[t.index[k]]), zero);
            const __m128i w = _mm_set1_epi32((int)(uint32_t)(uint16_t)t.weight[k]);
            acc = _mm_add_epi32(acc, _mm_madd_epi16(_mm_unpacklo_epi16(p0, zero), w));
        }
        acc = _mm_srai_epi32(_mm_add_epi32(acc, _mm_set1_epi32(1 << (kWeightBits - kMidBits - 1))),
                             kWeightBits - kMidBits);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + (size_t)d * 4), _mm_packs_epi32(acc, acc));
#else
        int32_t acc[4] = {0, 0, 0, 0};
        for (uint32_t k = b; k < e; ++k) {
            const uint32_t v = src[t.index[k]];
            for (int c = 0; c < 4; ++c) acc[c] += t.weight[k] * (int32_t)((v >> (8 * c)) & 0xFF);
        }
        for (int c = 0; c < 4; ++c)
            out[(size_t)d * 4 + c] = (int16_t)((acc[c] + (1 << (kWeightBits - kMidBits - 1))) >> (kWeightBits - kMidBits));
#endif
    }
}

// One destination row from horizontally filtered rows and their weights.
void vertical(const int16_t* const* rows, const int16_t* weights, uint32_t count, size_t values, uint32_t* out) {
    constexpr int shift = kWeightBits + kMidBits;
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i round = _mm_set1_epi32(1 << (shift - 1));
    for (; i + 8 <= values; i += 8) {
        __m128i lo = _mm_setzero_si128(), hi = _mm_setzero_si128();
        uint32_t k = 0;
        for (; k + 1 < count; k += 2) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k] + i));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k + 1] + i));
            const __m128i w = _mm_set1_epi32((int)((uint32_t)(uint16_t)weights[k] | (uint32_t)(uint16_t)weights[k + 1] << 16));
            lo = _mm_add_epi32(lo, _mm_madd_epi16(_mm_unpacklo_epi16(a, b), w));
            hi = _mm_add_epi32(hi, _mm_madd_epi16(_mm_unpackhi_epi16(a, b), w));
        }
        if (k < count) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k] + i));
            const __m128i w = _mm_set1_epi32((int)(uint32_t)(uint16_t)weights[k]);
            const __m128i zero = _mm_setzero_si128();
            lo = _mm_add_epi32(lo, _mm_madd_epi16(_mm_unpacklo_epi16(a, zero), w));
            hi = _mm_add_epi32(hi, _mm_madd_epi16(_mm_unpackhi_epi16(a, zero), w));
        }
        lo = _mm_srai_epi32(_mm_add_epi32(lo, round), shift);
        hi = _mm_srai_epi32(_mm_add_epi32(hi, round), shift);
        const __m128i words = _mm_packs_epi32(lo, hi);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i / 4), _mm_packus_epi16(words, words));
    }
#endif
    for (; i < values; i += 4) {
        uint32_t v = 0;
        for (int c = 0; c < 4; ++c) {
            int32_t acc = 0;
            for (uint32_t k = 0; k < count; ++k) acc += weights[k] * rows[k][i + c];
            v |= (uint32_t)std::clamp((acc + (1 << (shift - 1))) >> shift, 0, 255) << (8 * c);
        }
        out[i / 4] = v;
    }
}

} // namespace

Image resize(const Image& src, UINT width, UINT height) {
    if (src.width == width && src.height == height) return src;
    Image out;
    out.width = width;
    out.height = height;
    out.texels.resize((size_t)width * height);
    const Taps tx = makeTaps(src.width, width), ty = makeTaps(src.height, height);
    // Every source row filtered horizontally once, then rows are combined.
    const size_t values = (size_t)width * 4;
    TexelBuffer<int16_t> mid(values * src.height);
    std::vector<char> done(src.height, 0);
    std::vector<const int16_t*> rows;
    std::vector<int16_t> weights;
    for (UINT y = 0; y < height; ++y) {
        rows.clear();
        weights.clear();
        for (uint32_t k = ty.first[y]; k < ty.first[y + 1]; ++k) {
            const uint32_t r = ty.index[k];
            if (!done[r]) {
                horizontal(src.texels.data() + (size_t)r * src.width, tx, width, mid.data() + values * r);
                done[r] = 1;
            }
            rows.push_back(mid.data() + values * r);
            weights.push_back(ty.weight[k]);
        }
        vertical(rows.data(), weights.data(), (uint32_t)rows.size(), values, out.texels.data() + (size_t)y * width);
    }
    return out;
}

Image halve(const Image& src) {
    Image out;
    out.width = std::max(1u, src.width / 2);
    out.height = std::max(1u, src.height / 2);
    out.texels.resize((size_t)out.width * out.height);
    // Two channels at a time in 16-bit lanes: four 8-bit values and the
    // rounding never carry into the next lane.
    auto average = [](uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
        constexpr uint32_t m = 0x00FF00FFu;
        const uint32_t lo = (a & m) + (b & m) + (c & m) + (d & m) + 0x00020002u;
        const uint32_t hi = (a >> 8 & m) + (b >> 8 & m) + (c >> 8 & m) + (d >> 8 & m) + 0x00020002u;
        return (lo >> 2 & m) | (hi >> 2 & m) << 8;
    };
    for (UINT y = 0; y < out.height; ++y) {
        const UINT y0 = std::min(2 * y, src.height - 1), y1 = std::min(2 * y + 1, src.height - 1);
        const uint32_t* r0 = src.texels.data() + (size_t)y0 * src.width;
        const uint32_t* r1 = src.texels.data() + (size_t)y1 * src.width;
        uint32_t* o = out.texels.data() + (size_t)y * out.width;
        const UINT pairs = src.width / 2; // columns with both texels present
        UINT x = 0;
        for (; x < pairs && x < out.width; ++x) o[x] = average(r0[2 * x], r0[2 * x + 1], r1[2 * x], r1[2 * x + 1]);
        for (; x < out.width; ++x) {
            const UINT x0 = std::min(2 * x, src.width - 1), x1 = std::min(2 * x + 1, src.width - 1);
            o[x] = average(r0[x0], r0[x1], r1[x0], r1[x1]);
        }
    }
    return out;
}

} // namespace d3dx::image

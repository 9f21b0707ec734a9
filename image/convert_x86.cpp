// Pixel conversion with the 16-byte vector instructions of x86-64 processors
// that have SSSE3 (byte shuffles): four pixels per operation, with 3-byte
// pixels spread to 4 bytes and packed back by one shuffle each. The build
// uses this file on x86-64 and convert_plain.cpp elsewhere.
#include <tmmintrin.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "image/image_local.h"

namespace vantrel {

namespace {

// Which way the moves of a conversion shift: a kernel for one way only
// saves an operation per move and vector. Narrowing moves (right shifts whose
// destination field lies within the shifted source field, as from 8-bit to
// 5-bit channels) need no source mask either.
enum class shifts { narrowing, right, left, both };

bool have_ssse3()
{
    static const bool yes = __builtin_cpu_supports("ssse3");
    return yes;
}

// The kernels alone are built for SSSE3, by the attribute on each function
// that uses its instructions (a lambda does not take its function's), and run
// only once have_ssse3() said yes.

// Groups of eight pixels: two vectors of four, each spread to 4 bytes a
// pixel, put through f and packed to D bytes a pixel. Loads and stores stay
// within the group (the 24 bytes of eight 3-byte pixels are loaded as bytes
// 0-15 and 8-23), and both loads come before the stores, so that src may be
// dst when the sizes are equal.
template <int S, int D, typename F>
__attribute__((target("ssse3"))) int convert_groups(const unsigned char* src, unsigned char* dst, int count, F f)
{
    const __m128i spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m128i spread_high = _mm_setr_epi8(4, 5, 6, -1, 7, 8, 9, -1, 10, 11, 12, -1, 13, 14, 15, -1);
    const __m128i pack16 = _mm_setr_epi8(0, 1, 4, 5, 8, 9, 12, 13, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m128i pack24 = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    auto load = [](const unsigned char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); };
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        const unsigned char* s = src + (size_t)S * i;
        unsigned char* d = dst + (size_t)D * i;
        __m128i a, b;
        if constexpr (S == 3) {
            a = _mm_shuffle_epi8(load(s), spread);
            b = _mm_shuffle_epi8(load(s + 8), spread_high);
        } else {
            a = load(s);
            b = load(s + 16);
        }
        a = f(a);
        b = f(b);
        if constexpr (D == 4) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d), a);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16), b);
        } else if constexpr (D == 2) {
            __m128i both = _mm_unpacklo_epi64(_mm_shuffle_epi8(a, pack16), _mm_shuffle_epi8(b, pack16));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d), both);
        } else {
            a = _mm_shuffle_epi8(a, pack24);
            b = _mm_shuffle_epi8(b, pack24);
            // 12 bytes each: the first 16-byte store's last four are
            // overwritten by the second, which goes out as 8 + 4.
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d), a);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(d + 12), b);
            int last = _mm_cvtsi128_si32(_mm_srli_si128(b, 8));
            memcpy(d + 20, &last, 4);
        }
    }
    return i;
}

// The moves on four pixels at once.
template <int S, int D, int M, shifts K>
__attribute__((target("ssse3"))) int convert_moved(const unsigned char* src, unsigned char* dst, int count, const wide_plan& plan)
{
    const channel_move* moves = plan.moves;
    __m128i sm[4], dm[4], ls[4], rs[4];
    for (int c = 0; c < M; ++c) {
        sm[c] = _mm_set1_epi32((int)moves[c].src_mask);
        dm[c] = _mm_set1_epi32((int)moves[c].dst_mask);
        ls[c] = _mm_cvtsi32_si128(moves[c].lshift);
        rs[c] = _mm_cvtsi32_si128(moves[c].rshift);
    }
    return convert_groups<S, D>(src, dst, count, [&](__m128i v) {
        __m128i out = _mm_setzero_si128();
        for (int c = 0; c < M; ++c) {
            __m128i x = K == shifts::narrowing ? v : _mm_and_si128(v, sm[c]);
            if (K == shifts::left || K == shifts::both)
                x = _mm_sll_epi32(x, ls[c]);
            if (K != shifts::left)
                x = _mm_srl_epi32(x, rs[c]);
            out = _mm_or_si128(out, _mm_and_si128(x, dm[c]));
        }
        return out;
    });
}

// Whole bytes moved whole: one shuffle of the bytes of four pixels.
struct reorder {
    __m128i order;
    __attribute__((target("ssse3"))) __m128i operator()(__m128i v) const { return _mm_shuffle_epi8(v, order); }
};

template <int S, int D>
__attribute__((target("ssse3"))) int convert_shuffled(const unsigned char* src, unsigned char* dst, int count,
                                                      const wide_plan& plan)
{
    reorder f = {_mm_loadu_si128(reinterpret_cast<const __m128i*>(plan.order))};
    return convert_groups<S, D>(src, dst, count, f);
}

// The moves as a sum of products (see product_plan): two multiply-adds.
struct products {
    __m128i keep, bytes, halves, down;
    __attribute__((target("ssse3"))) __m128i operator()(__m128i v) const
    {
        __m128i pairs = _mm_maddubs_epi16(_mm_and_si128(v, keep), bytes);
        return _mm_srl_epi32(_mm_madd_epi16(pairs, halves), down);
    }
};

template <int S, int D>
__attribute__((target("ssse3"))) int convert_products(const unsigned char* src, unsigned char* dst, int count,
                                                      const wide_plan& plan)
{
    products f = {_mm_set1_epi32((int)plan.keep), _mm_set1_epi32((int)plan.byte_factors),
                  _mm_set1_epi32((int)plan.half_factors), _mm_cvtsi32_si128(plan.down)};
    return convert_groups<S, D>(src, dst, count, f);
}

template <int S, int D, shifts K>
wide_kernel moved_kernel(int n)
{
    switch (n) {
    case 0: return convert_moved<S, D, 0, K>;
    case 1: return convert_moved<S, D, 1, K>;
    case 2: return convert_moved<S, D, 2, K>;
    case 3: return convert_moved<S, D, 3, K>;
    default: return convert_moved<S, D, 4, K>;
    }
}

// Where every move takes whole bytes to whole bytes and loses nothing, the
// order of the bytes of four 4-byte pixels that does the same (-1 for a zero
// byte): true, else false.
bool byte_order(const channel_move* moves, int n, signed char* order)
{
    signed char lane[4] = {-1, -1, -1, -1};
    for (int c = 0; c < n; ++c) {
        const channel_move& m = moves[c];
        if (m.lshift % 8 || m.rshift % 8 || ((uint64_t)m.src_mask << m.lshift >> m.rshift) != m.dst_mask)
            return false;
        for (int k = 0; k < 4; ++k) {
            uint32_t byte = m.src_mask >> 8 * k & 0xFF;
            if (byte != 0 && byte != 0xFF)
                return false;
            int to = k + (m.lshift - m.rshift) / 8;
            if (byte && to >= 0 && to < 4)
                lane[to] = (signed char)k;
        }
    }
    for (int p = 0; p < 4; ++p)
        for (int k = 0; k < 4; ++k)
            order[4 * p + k] = lane[k] < 0 ? -1 : (signed char)(4 * p + lane[k]);
    return true;
}

// Where every move takes its bits from a single source byte (as narrowing
// 8-bit channels to 5 or 6 bits does), the moves come to a sum of products:
// each byte, kept to the bits that reach the destination, times a power of
// two (2^a, by a multiply-add over the byte pairs of a pixel, then 2^b, by
// one over its halves), the sum shifted right by a common amount so that no
// power is negative. The products land on disjoint bits, so their sum is the
// union of the moves. Fills the plan's factors: true when they fit the
// instructions (a <= 6 and b <= 14 for signed 8- and 16-bit factors) and no
// sum overflows (the pairs' 16 bits, the pixel's 31 before the shift).
bool product_plan(wide_plan& plan)
{
    int e[4] = {0, 0, 0, 0};
    bool used[4] = {false, false, false, false};
    uint32_t keep = 0, reach = 0;
    for (int c = 0; c < plan.nmoves; ++c) {
        const channel_move& m = plan.moves[c];
        uint32_t kept = m.src_mask & (uint32_t)(((uint64_t)m.dst_mask << m.rshift) >> m.lshift);
        if (!kept)
            continue;
        int k = __builtin_ctz(kept) / 8;
        if (kept >> 8 * k > 0xFF || used[k])
            return false;
        used[k] = true;
        keep |= kept;
        reach |= m.dst_mask;
        e[k] = m.lshift - m.rshift + 8 * k;  // the power for the byte's value
    }
    int down = 0;
    for (int k = 0; k < 4; ++k)
        if (used[k])
            down = std::max(down, -e[k]);
    if (((uint64_t)reach << down) >> 31)
        return false;
    uint32_t bytes = 0, halves = 0;
    for (int h = 0; h < 2; ++h) {
        int b = INT_MAX, sum = 0;
        for (int k = 2 * h; k < 2 * h + 2; ++k)
            if (used[k])
                b = std::min(b, e[k] + down);
        if (b == INT_MAX)
            continue;
        if (b > 14)
            return false;
        for (int k = 2 * h; k < 2 * h + 2; ++k) {
            int a = e[k] + down - b;
            if (!used[k])
                continue;
            if (a > 6)
                return false;
            bytes |= (1u << a) << 8 * k;
            sum += (int)(keep >> 8 * k & 0xFF) << a;
        }
        if (sum > 32767)
            return false;
        halves |= (1u << b) << 16 * h;
    }
    plan.keep = keep;
    plan.byte_factors = bytes;
    plan.half_factors = halves;
    plan.down = down;
    return true;
}

template <int S, int D>
wide_kernel kernel_for(wide_plan& plan)
{
    if (byte_order(plan.moves, plan.nmoves, plan.order))
        return convert_shuffled<S, D>;
    if (plan.nmoves > 1 && product_plan(plan))
        return convert_products<S, D>;
    bool left = false, right = false, within = true;
    for (int c = 0; c < plan.nmoves; ++c) {
        const channel_move& m = plan.moves[c];
        left |= m.lshift != 0;
        right |= m.rshift != 0;
        within &= (m.dst_mask & ~(m.src_mask >> m.rshift)) == 0;
    }
    if (!left && within)
        return moved_kernel<S, D, shifts::narrowing>(plan.nmoves);
    if (!left)
        return moved_kernel<S, D, shifts::right>(plan.nmoves);
    if (!right)
        return moved_kernel<S, D, shifts::left>(plan.nmoves);
    return moved_kernel<S, D, shifts::both>(plan.nmoves);
}

template <int S>
wide_kernel kernel_to(int to_nbytes, wide_plan& plan)
{
    switch (to_nbytes) {
    case 2: return kernel_for<S, 2>(plan);
    case 3: return kernel_for<S, 3>(plan);
    case 4: return kernel_for<S, 4>(plan);
    default: return nullptr;
    }
}

}  // namespace

wide_kernel choose_wide_kernel(int from_nbytes, int to_nbytes, wide_plan& plan)
{
    if (!have_ssse3())
        return nullptr;
    switch (from_nbytes) {
    case 3: return kernel_to<3>(to_nbytes, plan);
    case 4: return kernel_to<4>(to_nbytes, plan);
    default: return nullptr;
    }
}

}  // namespace vantrel

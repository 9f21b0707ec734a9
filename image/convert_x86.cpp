// Pixel conversion with the 16-byte vector instructions of x86-64 processors
// that have SSSE3 (byte shuffles): four pixels per operation, with 3-byte
// pixels spread to 4 bytes and packed back by one shuffle each. The build
// uses this file on x86-64 and convert_plain.cpp elsewhere.
#include <tmmintrin.h>

#include <cstring>

#include "image/image_local.h"

namespace vantrel {

namespace {

// Which way the moves of a conversion shift: a kernel for one way only
// saves an operation per move and vector.
enum class shifts { right, left, both };

bool have_ssse3()
{
    static const bool yes = __builtin_cpu_supports("ssse3");
    return yes;
}

// The kernels alone are built for SSSE3 (their lambdas too), and run only
// once have_ssse3() said yes.
#pragma GCC push_options
#pragma GCC target("ssse3")

// Groups of eight pixels: two vectors of four. Three-byte pixels are loaded
// 16 bytes at a time, 4 bytes past the group, so a row of them keeps its last
// two pixels for the caller; stores write exactly the group, after both of
// its loads, so that src may be dst when the sizes are equal.
template <int S, int D, int M, shifts K>
int convert_groups(const unsigned char* src, unsigned char* dst, int count, const channel_move* moves)
{
    __m128i sm[4], dm[4], ls[4], rs[4];
    for (int c = 0; c < M; ++c) {
        sm[c] = _mm_set1_epi32((int)moves[c].src_mask);
        dm[c] = _mm_set1_epi32((int)moves[c].dst_mask);
        ls[c] = _mm_cvtsi32_si128(moves[c].lshift);
        rs[c] = _mm_cvtsi32_si128(moves[c].rshift);
    }
    const __m128i spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m128i pack16 = _mm_setr_epi8(0, 1, 4, 5, 8, 9, 12, 13, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m128i pack24 = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    auto apply = [&](__m128i v) {
        __m128i out = _mm_setzero_si128();
        for (int c = 0; c < M; ++c) {
            __m128i x = _mm_and_si128(v, sm[c]);
            if (K != shifts::right)
                x = _mm_sll_epi32(x, ls[c]);
            if (K != shifts::left)
                x = _mm_srl_epi32(x, rs[c]);
            out = _mm_or_si128(out, _mm_and_si128(x, dm[c]));
        }
        return out;
    };
    auto load = [&](const unsigned char* p) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        return S == 3 ? _mm_shuffle_epi8(v, spread) : v;
    };
    const int slack = S == 3 ? 2 : 0;
    int i = 0;
    for (; i + 8 + slack <= count; i += 8) {
        const unsigned char* s = src + (size_t)S * i;
        unsigned char* d = dst + (size_t)D * i;
        __m128i a = apply(load(s)), b = apply(load(s + 4 * S));
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

#pragma GCC pop_options

template <int S, int D, shifts K>
int convert_moves(const unsigned char* src, unsigned char* dst, int count, const channel_move* moves, int n)
{
    switch (n) {
    case 0: return convert_groups<S, D, 0, K>(src, dst, count, moves);
    case 1: return convert_groups<S, D, 1, K>(src, dst, count, moves);
    case 2: return convert_groups<S, D, 2, K>(src, dst, count, moves);
    case 3: return convert_groups<S, D, 3, K>(src, dst, count, moves);
    default: return convert_groups<S, D, 4, K>(src, dst, count, moves);
    }
}

template <int S, int D>
int convert_shifts(const unsigned char* src, unsigned char* dst, int count, const channel_move* moves, int n)
{
    bool left = false, right = false;
    for (int c = 0; c < n; ++c) {
        left |= moves[c].lshift != 0;
        right |= moves[c].rshift != 0;
    }
    if (!left)
        return convert_moves<S, D, shifts::right>(src, dst, count, moves, n);
    if (!right)
        return convert_moves<S, D, shifts::left>(src, dst, count, moves, n);
    return convert_moves<S, D, shifts::both>(src, dst, count, moves, n);
}

template <int S>
int convert_to(int to_nbytes, const unsigned char* src, unsigned char* dst, int count, const channel_move* moves,
               int n)
{
    switch (to_nbytes) {
    case 2: return convert_shifts<S, 2>(src, dst, count, moves, n);
    case 3: return convert_shifts<S, 3>(src, dst, count, moves, n);
    case 4: return convert_shifts<S, 4>(src, dst, count, moves, n);
    default: return 0;
    }
}

}  // namespace

int convert_pixels_wide(const unsigned char* src, int from_nbytes, unsigned char* dst, int to_nbytes, int count,
                        const channel_move* moves, int nmoves)
{
    if (!have_ssse3())
        return 0;
    switch (from_nbytes) {
    case 3: return convert_to<3>(to_nbytes, src, dst, count, moves, nmoves);
    case 4: return convert_to<4>(to_nbytes, src, dst, count, moves, nmoves);
    default: return 0;
    }
}

}  // namespace vantrel

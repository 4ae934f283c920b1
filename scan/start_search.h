// Finds moov and frame starts in memory. Candidates are picked 16 or 32
// positions at a time by their two rarest bytes (02 09 of an H.264 frame
// start, 03 46 of an H.265 one, "mo" of a moov start) and only those are
// compared in full, so the search runs near memory speed instead of testing
// every byte.
#pragma once

#include "scan/stream_signatures.h"

#include <cstddef>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define TESSARO_X86_SEARCH 1
#endif

enum class StreamStart { Frame, Moov };

namespace start_search {

#if defined(TESSARO_X86_SEARCH)
// The loads of a block of positions [q, q + width) reach buf[q + width + 4],
// inside the START_SPAN bytes that follow the block's last position.
template <typename Test>
__attribute__((target("avx2"))) std::size_t blocks_avx2(const unsigned char *buf, std::size_t positions, Test &test)
{
    const __m256i c02 = _mm256_set1_epi8(0x02), c09 = _mm256_set1_epi8(0x09);
    const __m256i c03 = _mm256_set1_epi8(0x03), c46 = _mm256_set1_epi8(0x46);
    const __m256i cm = _mm256_set1_epi8('m'), co = _mm256_set1_epi8('o');
    std::size_t q = 0;
    for (; q + 32 <= positions; q += 32) {
        const __m256i v3 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(buf + q + 3));
        const __m256i v4 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(buf + q + 4));
        const __m256i v5 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(buf + q + 5));
        const __m256i h264 = _mm256_and_si256(_mm256_cmpeq_epi8(v3, c02), _mm256_cmpeq_epi8(v4, c09));
        const __m256i h265 = _mm256_and_si256(_mm256_cmpeq_epi8(v3, c03), _mm256_cmpeq_epi8(v4, c46));
        const __m256i moov = _mm256_and_si256(_mm256_cmpeq_epi8(v4, cm), _mm256_cmpeq_epi8(v5, co));
        const __m256i any = _mm256_or_si256(_mm256_or_si256(h264, h265), moov);
        unsigned mask = static_cast<unsigned>(_mm256_movemask_epi8(any));
        while (mask) {
            test(q + static_cast<std::size_t>(__builtin_ctz(mask)));
            mask &= mask - 1;
        }
    }
    return q;
}

template <typename Test>
std::size_t blocks_sse2(const unsigned char *buf, std::size_t positions, Test &test)
{
    const __m128i c02 = _mm_set1_epi8(0x02), c09 = _mm_set1_epi8(0x09);
    const __m128i c03 = _mm_set1_epi8(0x03), c46 = _mm_set1_epi8(0x46);
    const __m128i cm = _mm_set1_epi8('m'), co = _mm_set1_epi8('o');
    std::size_t q = 0;
    for (; q + 16 <= positions; q += 16) {
        const __m128i v3 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(buf + q + 3));
        const __m128i v4 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(buf + q + 4));
        const __m128i v5 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(buf + q + 5));
        const __m128i h264 = _mm_and_si128(_mm_cmpeq_epi8(v3, c02), _mm_cmpeq_epi8(v4, c09));
        const __m128i h265 = _mm_and_si128(_mm_cmpeq_epi8(v3, c03), _mm_cmpeq_epi8(v4, c46));
        const __m128i moov = _mm_and_si128(_mm_cmpeq_epi8(v4, cm), _mm_cmpeq_epi8(v5, co));
        const __m128i any = _mm_or_si128(_mm_or_si128(h264, h265), moov);
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(any));
        while (mask) {
            test(q + static_cast<std::size_t>(__builtin_ctz(mask)));
            mask &= mask - 1;
        }
    }
    return q;
}

inline bool have_avx2()
{
    static const bool yes = __builtin_cpu_supports("avx2");
    return yes;
}
#endif

}  // namespace start_search

// Calls on_start(p, kind) for every start at positions 0 .. positions - 1 of
// `buf`, in increasing order. `buf` must hold positions + START_SPAN - 1
// bytes.
template <typename OnStart>
void find_starts(const unsigned char *buf, std::size_t positions, OnStart &&on_start)
{
    auto test = [&](std::size_t p) {
        if (is_frame_start(buf + p))
            on_start(p, StreamStart::Frame);
        else if (is_moov_start(buf + p))
            on_start(p, StreamStart::Moov);
    };

    std::size_t q = 0;
#if defined(TESSARO_X86_SEARCH)
    q = start_search::have_avx2() ? start_search::blocks_avx2(buf, positions, test)
                                  : start_search::blocks_sse2(buf, positions, test);
#endif
    for (; q < positions; ++q)
        test(q);
}

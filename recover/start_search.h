// Finds moov and frame starts in memory. Candidates are picked sixteen
// positions at a time by their two rarest bytes (02 09 of a frame start,
// "mo" of a moov start) and only those are compared in full, so the search
// runs near memory speed instead of testing every byte.
#pragma once

#include "recover/stream_signatures.h"

#include <cstddef>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

enum class StreamStart { Frame, Moov };

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
#if defined(__SSE2__)
    // The loads reach buf[q + 20], inside the START_SPAN bytes past the last
    // position of the block.
    const __m128i c02 = _mm_set1_epi8(0x02), c09 = _mm_set1_epi8(0x09);
    const __m128i cm = _mm_set1_epi8('m'), co = _mm_set1_epi8('o');
    for (; q + 16 <= positions; q += 16) {
        const __m128i v3 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(buf + q + 3));
        const __m128i v4 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(buf + q + 4));
        const __m128i v5 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(buf + q + 5));
        const __m128i frame = _mm_and_si128(_mm_cmpeq_epi8(v3, c02), _mm_cmpeq_epi8(v4, c09));
        const __m128i moov = _mm_and_si128(_mm_cmpeq_epi8(v4, cm), _mm_cmpeq_epi8(v5, co));
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(frame, moov)));
        while (mask) {
            test(q + static_cast<std::size_t>(__builtin_ctz(mask)));
            mask &= mask - 1;
        }
    }
#endif
    for (; q < positions; ++q)
        test(q);
}

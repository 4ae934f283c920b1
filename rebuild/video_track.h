// What the rebuild needs of a copied moov box: the chunk offsets of its
// video track, its codec and parameter sets and, where the box gives them,
// how many samples each chunk holds and how large each sample is. Every box is bounded by its parent and
// by the copy; a table that claims more than it holds is cut.
#pragma once

#include "rebuild/chunk_table.h"
#include "scan/stream_signatures.h"

#include <cstdint>
#include <vector>

class VideoTrack
{
public:
    // The stco or co64 of the first trak whose handler is "vide"; without
    // one (or when that trak has neither), the first such table of the box,
    // as a moov is read when nothing else is known of it.
    static VideoTrack parse(const unsigned char *moov, std::uint64_t size);

    const ChunkTable &chunks() const { return m_chunks; }
    // From the first sample description: avc1/avc3 or hvc1/hev1; None when
    // the box names neither.
    VideoCodec codec() const { return m_codec; }
    // Whether the chunk table is a video track's and its stsc and stsz were
    // read, so that the samples of a chunk can be told.
    bool has_samples() const { return m_has_samples; }

    // Samples of chunk j: the first one's index and their count. False when
    // the tables do not tell.
    bool chunk_samples(std::uint32_t j, std::uint32_t *first, std::uint32_t *count) const;
    // Size of sample i, or 0 when the table does not hold it.
    std::uint32_t sample_size(std::uint32_t i) const;

    // The parameter sets of the track's first sample description, in the
    // order they stand ("avcC": sequence, picture; "hvcC": video, sequence,
    // picture, and the SEI it may carry), pointing into the moov copy.
    struct ParameterSet {
        const unsigned char *bytes;
        std::uint16_t size;
    };
    const std::vector<ParameterSet> &parameter_sets() const { return m_parameter_sets; }

private:
    ChunkTable m_chunks;
    VideoCodec m_codec = VideoCodec::None;
    bool m_has_samples = false;
    // stsc, as (first chunk, first sample, samples per chunk), chunks and
    // samples counted from 0.
    struct Run {
        std::uint32_t chunk;
        std::uint32_t sample;
        std::uint32_t per_chunk;
    };
    std::vector<Run> m_runs;
    std::uint32_t m_known_chunks = 0xFFFFFFFFu;
    std::uint32_t m_uniform_size = 0;
    const unsigned char *m_sizes = nullptr;
    std::uint32_t m_sample_count = 0;
    std::vector<ParameterSet> m_parameter_sets;

    void read_sample_entry(const unsigned char *stsd, std::uint64_t size);
    void read_avcc(const unsigned char *p, std::uint64_t len);
    void read_hvcc(const unsigned char *p, std::uint64_t len);
    bool add_parameter_set(const unsigned char *p, std::uint64_t len, std::uint64_t *at);
};

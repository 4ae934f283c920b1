// The first video track of an MP4 file with what its tables say of time:
// each sample's place and size, decode time (stts), composition offset
// (ctts) and whether it is a sync sample (stss), and the parameter sets of
// its avcC or hvcC. Read by the tests' own box walker, so that an engine
// parser is held to what the muxer wrote. Every box is bounded by its
// parent and every table by its box; a table that claims more than it holds
// is cut.
#pragma once

#include <QByteArray>
#include <cstdint>
#include <vector>

struct TimedSample {
    std::uint64_t offset = 0;
    std::uint32_t size = 0;
    std::int64_t decode_time = 0;
    std::int64_t composition_offset = 0;
    bool sync = true;  // every sample is one when there is no stss
};

struct TimedTrack {
    char sample_entry[5] = {};  // "avc1", "hvc1", ...
    std::uint32_t width = 0;    // of the visual sample entry
    std::uint32_t height = 0;
    std::vector<QByteArray> parameter_sets;  // NAL units, headers included, as the box lists them
    std::vector<TimedSample> samples;        // in decode order
};

// The first "vide" track of a whole MP4 file; an empty track when there is
// none or its tables do not add up.
TimedTrack read_timed_track(const QByteArray &file);

// The presentation index of each sample: samples sorted by decode time plus
// composition offset, ties in decode order.
std::vector<std::uint32_t> presentation_order(const TimedTrack &track);

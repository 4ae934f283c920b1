#include "cli/video_listing.h"

#include "cli/json_writer.h"
#include "rebuild/video_plan.h"

QString video_line(int number, const VideoFacts &facts, const QString &verdict)
{
    const RecordingFacts &r = facts.recording;
    return QStringLiteral("  %1  %2  %3  %4  %5  %6  %7")
            .arg(number, 3)
            .arg(duration_text(r.duration_ms), 7)
            .arg(resolution_text(r.width, r.height), 9)
            .arg(codec_text(r.codec), 5)
            .arg(frame_rate_text(r.frame_rate), 9)
            .arg(size_text(facts.file_size), 8)
            .arg(verdict);
}

void write_video_facts(JsonWriter &w, const VideoFacts &facts)
{
    const RecordingFacts &r = facts.recording;
    w.key("duration_ms");
    w.value(r.duration_ms);
    w.key("width");
    w.value(std::uint64_t(r.width));
    w.key("height");
    w.value(std::uint64_t(r.height));
    w.key("codec");
    w.value(r.codec == VideoCodec::None ? QString() : codec_text(r.codec));
    w.key("frame_rate");
    w.decimal(r.frame_rate, 3);
    w.key("size");
    w.value(facts.file_size);
}

VideoFacts facts_of_video(int n)
{
    if (n < 0 || std::size_t(n) >= video_plans.size())
        return VideoFacts();
    return video_facts(video_plans[std::size_t(n)]);
}

#include "cli/scan_report.h"

#include "cli/json_writer.h"
#include "cli/video_listing.h"
#include "scan/grouping.h"
#include "scan/scan_tables.h"
#include "scan/step_grids.h"

QString bytes_of_source(std::uint64_t bytes, std::uint64_t size)
{
    if (size == 0)
        return QStringLiteral("%1 bytes").arg(bytes);
    return QStringLiteral("%1 bytes (%2 times the source)").arg(bytes).arg(double(bytes) / double(size), 0, 'f', 2);
}

QString scan_report_json(const QString &source, std::uint64_t size, const CommandCost &cost)
{
    JsonWriter w;
    w.begin_object();
    w.key("source");
    w.value(source);
    w.key("size");
    w.value(size);
    w.key("step_grids");
    w.value(scan_grids.describe());

    w.key("start_list");
    w.begin_array();
    for (std::uint32_t i = 0; i < start_num; ++i) {
        w.begin_array();
        w.value(start_list[i].position);
        w.value(std::uint64_t(start_list[i].kind));
        w.end_array();
    }
    w.end_array();

    w.key("qt_list");
    w.begin_array();
    for (std::uint32_t i = 0; i < qt_num; ++i)
        w.value(qt_list[i]);
    w.end_array();

    w.key("photo_list");
    w.begin_array();
    for (std::uint32_t i = 0; i < photo_num; ++i) {
        w.begin_array();
        w.value(photo_list[i].position);
        w.value(photo_list[i].length);
        w.end_array();
    }
    w.end_array();

    w.key("groups");
    w.begin_array();
    for (std::uint32_t g = 0; g < group_count(); ++g) {
        const VideoGroup &group = group_list[g];
        const int kind = group_kind(g);
        w.begin_object();
        w.key("kind");
        if (kind >= 1)
            w.value(std::uint64_t(kind));
        else
            w.value(kind == GROUP_TRIPLE      ? QStringLiteral("triple")
                    : kind == GROUP_QUICKTIME ? QStringLiteral("qt")
                                              : QStringLiteral("single"));
        w.key("head");
        w.value(group.head_pos);
        w.key("pieces");
        w.begin_array();
        for (int p = 0; p < group_pieces(g); ++p)
            w.value(group.piece_pos[p]);
        w.end_array();
        w.key("tail");
        w.value(group.tail_pos);
        w.key("moov");
        w.begin_array();
        for (int m = 0; m < MOOV_SLOTS; ++m) {
            if (group.moov_size[m] == 0)
                continue;
            w.begin_array();
            w.value(group.moov_pos[m]);
            w.value(group.moov_size[m]);
            w.end_array();
        }
        w.end_array();
        w.end_object();
    }
    w.end_array();

    w.key("video_total");
    w.value(std::uint64_t(video_total));
    w.key("video_list");
    w.begin_array();
    for (std::uint32_t n = 0; n < video_total; ++n) {
        const VideoFacts facts = facts_of_video(int(n));
        w.begin_object();
        w.key("number");
        w.value(std::uint64_t(n));
        w.key("position");
        w.value(facts.position);
        write_video_facts(w, facts);
        w.key("verdict");
        w.value(verdict_text(facts));
        w.end_object();
    }
    w.end_array();
    w.key("unreadable_bytes");
    w.value(unreadable_bytes);
    w.key("source_bytes_read");
    w.value(cost.source_bytes_read);
    w.key("peak_memory_bytes");
    w.value(cost.peak_memory_bytes);
    w.end_object();
    return w.text();
}

QString scan_report_text(const QString &source, std::uint64_t size, const QString &work_dir, bool work_kept,
                         const CommandCost &cost)
{
    std::uint32_t markers = 0;
    for (std::uint32_t i = 0; i < start_num; ++i)
        markers += start_list[i].kind == KIND_MARKER_PHOTO;
    QString out;
    out += QStringLiteral("Scanned %1 (%2 bytes)\n").arg(source).arg(size);
    out += QStringLiteral("  step grids:       %1\n").arg(scan_grids.describe());
    out += QStringLiteral("  video starts:     %1\n").arg(start_num - markers);
    out += QStringLiteral("  marker photos:    %1\n").arg(markers);
    out += QStringLiteral("  QuickTime starts: %1\n").arg(qt_num);
    out += QStringLiteral("  photos:           %1\n").arg(photo_num);
    out += QStringLiteral("  video groups:     %1\n").arg(group_count());
    out += QStringLiteral("  videos:           %1\n").arg(video_total);
    for (std::uint32_t n = 0; n < video_total; ++n) {
        const VideoFacts facts = facts_of_video(int(n));
        out += video_line(int(n), facts, verdict_text(facts)) + QLatin1Char('\n');
    }
    if (unreadable_bytes)
        out += QStringLiteral("  unreadable bytes: %1 (read as zeros)\n").arg(unreadable_bytes);
    const DroppedFinds &d = dropped_finds;
    if (d.starts || d.qt || d.photos || d.groups)
        out += QStringLiteral("  beyond capacity:  %1 starts, %2 QuickTime starts, %3 photos, %4 groups (dropped)\n")
                       .arg(d.starts).arg(d.qt).arg(d.photos).arg(d.groups);
    out += QStringLiteral("  source read:      %1\n").arg(bytes_of_source(cost.source_bytes_read, size));
    out += QStringLiteral("  peak memory:      %1 bytes\n").arg(cost.peak_memory_bytes);
    out += work_kept ? QStringLiteral("Work files (work copies n.mp4, thumbnails n.png and abN.png) are in %1\n").arg(work_dir)
                     : QStringLiteral("Work files were written to %1 and removed at exit (keep them with --work DIR)\n").arg(work_dir);
    return out;
}

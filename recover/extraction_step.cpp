#include "recover/extraction_step.h"

#include "drives/drive_table.h"
#include "rebuild/frame_index.h"
#include "rebuild/group_plans.h"
#include "rebuild/moov_pairing.h"
#include "rebuild/video_plan.h"
#include "recover/plan_writer.h"
#include "scan/card_map.h"
#include "scan/grouping.h"
#include "scan/scan_tables.h"

#include <QDebug>

namespace {

class ExtractionWalk
{
public:
    ExtractionWalk(ScanProgress &progress, const std::function<void(std::uint32_t)> &written)
        : m_progress(progress), m_written(written)
    {
        QString why;
        m_source = FileSource::open(source_path(), &why);
        m_end = m_source ? source_size() : 0;
        video_plans.clear();
        moov_choices = pair_moovs(card_map, m_source.get(), m_end);
        index_card_frames(card_map);
    }

    void group(std::uint32_t g)
    {
        const std::size_t first = video_plans.size();
        plan_group(g, m_source.get(), m_end);
        for (std::size_t n = first; n < video_plans.size(); ++n) {
            if (m_source)
                write_plan(*m_source, m_end, int(n), video_plans[n], SHORT_REBUILD_CHUNKS);
            else
                write_plan(m_nothing, 0, int(n), video_plans[n], SHORT_REBUILD_CHUNKS);
            ++video_done;
            if (m_written)
                m_written(std::uint32_t(n));
        }
        m_progress.code(static_cast<int>(50 + video_done * 50u / video_total));
    }

private:
    ScanProgress &m_progress;
    const std::function<void(std::uint32_t)> &m_written;
    std::unique_ptr<FileSource> m_source;
    MemorySource m_nothing{nullptr, 0};
    std::uint64_t m_end = 0;
};

}  // namespace

void extraction_step(ScanProgress &progress, const std::function<void(std::uint32_t)> &written)
{
    ExtractionWalk walk(progress, written);
    std::uint32_t g = 0;
    for (int k = 1; k <= MAX_KIND; ++k)
        for (std::uint32_t i = 0; i < group_num[k - 1]; ++i)
            walk.group(g++);

    qDebug() << "ftyp_ftyp_ftyp_loop_new" << triple_num;
    for (std::uint32_t i = 0; i < triple_num; ++i) {
        qDebug() << i;
        walk.group(g++);
    }
    qDebug() << "ftyp_ftyp_ftyp_loop_new end " << triple_num;

    qDebug() << "mov_loop_new_cc start" << qt_group_num;
    for (std::uint32_t i = 0; i < qt_group_num; ++i) {
        qDebug() << i;
        walk.group(g++);
    }
    qDebug() << "mov_loop_new_cc start end" << qt_group_num;

    for (std::uint32_t i = 0; i < single_num; ++i)
        walk.group(g++);
}

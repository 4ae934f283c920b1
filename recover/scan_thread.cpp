#include "recover/scan_thread.h"

#include "drives/drive_table.h"
#include "recover/post_reading.h"
#include "scan/byte_source.h"
#include "scan/photo_work.h"
#include "scan/reading_phase.h"
#include "scan/scan_tables.h"
#include "scan/work_folder.h"

namespace {

class SignalProgress : public ScanProgress
{
public:
    explicit SignalProgress(creatimage_aa *thread) : m_thread(thread) {}
    void bytes_read(std::uint64_t offset) override { emit m_thread->UpdateSignal(offset); }
    void code(int value) override { emit m_thread->UpdateSignal_num(value); }

private:
    creatimage_aa *m_thread;
};

}  // namespace

void creatimage_aa::run()
{
    scan_reset();
    const QString path = source_path();
    const std::uint64_t size = source_size();

    QString reason;
    std::unique_ptr<FileSource> source = FileSource::open(path, &reason);
    if (!source) {
        emit sourceFailed(reason);
        return;
    }

    SignalProgress progress(this);
    // The photo workers measure and thumbnail each photo from the bytes the
    // reading pass has of it; the source stays open for what lies past them.
    PhotoWork photos(*source, size);
    reading_phase(*source, size, progress, &photos);

    save_dir = temp_dir;
    after_reading_phase(progress, photos);
}

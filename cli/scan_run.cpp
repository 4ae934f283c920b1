#include "cli/scan_run.h"

#include "cli/progress_printer.h"
#include "cli/run_worker.h"
#include "recover/scan_thread.h"
#include "scan/scan_tables.h"

#include <sys/resource.h>


bool run_scan(QString *failure)
{
    ProgressPrinter printer;
    creatimage_aa thread;
    QObject::connect(&thread, &creatimage_aa::UpdateSignal_num, &thread,
                     [&](int code) { printer.code(code, video_total, photo_num); });
    QObject::connect(&thread, &creatimage_aa::sourceFailed, &thread, [&](const QString &why) { *failure = why; });
    run_worker(thread);
    printer.finish();
    return failure->isEmpty();
}

std::uint64_t peak_memory_bytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return std::uint64_t(usage.ru_maxrss) * 1024;  // Linux counts in KiB
}

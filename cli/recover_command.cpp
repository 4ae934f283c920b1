#include "cli/commands.h"

#include "cli/json_writer.h"
#include "cli/run_worker.h"
#include "cli/scan_report.h"
#include "cli/scan_run.h"
#include "cli/source_choice.h"
#include "cli/work_dir.h"
#include "drives/drive_table.h"
#include "recover/recovery_thread.h"
#include "scan/byte_source.h"
#include "scan/scan_tables.h"

#include <QDir>
#include <QFileInfo>
#include <QMap>
#include <cstdio>
#include <vector>

namespace {

struct WrittenFile {
    QString name;
    bool complete;
    QString error;
    QString verdict;
    int located;  // a video's chunks found of its index's; -1 for a photo
    int chunks;
};

// What the text listing says of a file beyond its name.
QString judgement(const WrittenFile &f)
{
    if (f.chunks < 0 || f.verdict == QLatin1String("intact"))
        return f.verdict;
    return QStringLiteral("%1, %2 of %3 chunks found").arg(f.verdict).arg(f.located).arg(f.chunks);
}

bool parse(const QStringList &args, QString *source, QString *folder, QString *work, bool *json)
{
    QStringList positional;
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--json"))
            *json = true;
        else if (args[i] == QLatin1String("--work") && i + 1 < args.size())
            *work = args[++i];
        else if (args[i].startsWith(QLatin1String("--")))
            return false;
        else
            positional << args[i];
    }
    if (positional.size() != 2)
        return false;
    *source = positional[0];
    *folder = positional[1];
    return true;
}

// The recovery folder, created; false with the reason when it cannot be
// created or is not writable.
bool prepare_folder(const QString &folder, QString *dir, QString *error)
{
    *dir = QDir(folder).absolutePath() + QStringLiteral("/KorvoRecoverFile");
    if (!QDir().mkpath(*dir)) {
        *error = QStringLiteral("cannot create %1").arg(*dir);
        return false;
    }
    if (!QFileInfo(*dir).isWritable()) {
        *error = QStringLiteral("%1 is not writable").arg(*dir);
        return false;
    }
    return true;
}

}  // namespace

int recover_command(const QStringList &args)
{
    const std::uint64_t read_at_start = source_bytes_read();
    QString source, folder, work_dir, error;
    bool json = false;
    if (!parse(args, &source, &folder, &work_dir, &json)) {
        std::fprintf(stderr, "usage: tessaro-cli recover SOURCE FOLDER [--json] [--work DIR]\n");
        return EXIT_USAGE;
    }
    if (!choose_source(source, &error)) {
        report_cannot_open(source, error);
        return EXIT_SOURCE;
    }
    QString dir;
    if (!prepare_folder(folder, &dir, &error)) {
        std::fprintf(stderr, "tessaro-cli: %s\n", qPrintable(error));
        return EXIT_DESTINATION;
    }
    RunWorkDir work;
    if (!work.set_up(work_dir, &error)) {
        std::fprintf(stderr, "tessaro-cli: work folder: %s\n", qPrintable(error));
        return EXIT_DESTINATION;
    }
    QString failure;
    if (!run_scan(&failure)) {
        report_cannot_open(source_path(), failure);
        return EXIT_SOURCE;
    }

    const std::uint64_t scan_read = source_bytes_read() - read_at_start;

    save_dir = dir;
    std::vector<WrittenFile> files;
    std::uint64_t bytes_written = 0;
    int failed = 0;
    QString first_error;
    qulonglong unreadable = 0;
    QMap<QString, int> verdicts;  // files by verdict
    WrittenFile judged{};
    savefile_new thread;
    QObject::connect(&thread, &savefile_new::fileJudged, &thread,
                     [&](const QString &name, const QString &verdict, int located, int chunks) {
                         judged = {name, false, {}, verdict, located, chunks};
                         ++verdicts[verdict];
                     });
    QObject::connect(&thread, &savefile_new::fileWritten, &thread,
                     [&](const QString &name, bool complete, const QString &why) {
                         WrittenFile f = judged.name == name ? judged : WrittenFile{name, false, {}, {}, -1, -1};
                         f.complete = complete;
                         f.error = why;
                         files.push_back(f);
                         // What landed on the destination, complete or not.
                         bytes_written += std::uint64_t(QFileInfo(name).size());
                         if (!json)
                             std::printf("%s %s (%s)%s\n", complete ? "wrote " : "FAILED", qPrintable(name),
                                         qPrintable(judgement(f)),
                                         complete ? "" : qPrintable(QStringLiteral(": ") + why));
                     });
    QObject::connect(&thread, &savefile_new::recoveryFinished, &thread,
                     [&](int f, const QString &why, qulonglong lost) {
                         failed = f;
                         first_error = why;
                         unreadable = lost;
                     });
    run_worker(thread);
    const std::uint64_t total_read = source_bytes_read() - read_at_start;
    const std::uint64_t peak_memory = peak_memory_bytes();

    if (json) {
        JsonWriter w;
        w.begin_object();
        w.key("source");
        w.value(source_path());
        w.key("folder");
        w.value(dir);
        w.key("videos");
        w.value(std::uint64_t(video_total));
        w.key("photos");
        w.value(std::uint64_t(photo_num));
        w.key("files");
        w.begin_array();
        for (const WrittenFile &f : files) {
            w.begin_object();
            w.key("name");
            w.value(f.name);
            w.key("complete");
            w.flag(f.complete);
            w.key("error");
            w.value(f.error);
            w.key("verdict");
            w.value(f.verdict);
            if (f.chunks >= 0) {
                w.key("located");
                w.value(std::uint64_t(f.located));
                w.key("chunks");
                w.value(std::uint64_t(f.chunks));
            }
            w.end_object();
        }
        w.end_array();
        for (const char *verdict : {"intact", "partial", "empty"}) {
            w.key(verdict);
            w.value(std::uint64_t(verdicts.value(QLatin1String(verdict))));
        }
        w.key("failed");
        w.value(std::uint64_t(failed));
        w.key("unreadable_bytes");
        w.value(std::uint64_t(unreadable));
        w.key("bytes_written");
        w.value(bytes_written);
        w.key("source_bytes_read");
        w.value(total_read);
        w.key("scan_bytes_read");
        w.value(scan_read);
        w.key("recovery_bytes_read");
        w.value(total_read - scan_read);
        w.key("peak_memory_bytes");
        w.value(peak_memory);
        w.end_object();
        std::printf("%s\n", qPrintable(w.text()));
    } else {
        std::printf("Recovered %u videos and %u photos into %s\n", video_total, photo_num, qPrintable(dir));
        // Partial and empty files were written whole all the same: what they
        // lack was not found on the card.
        std::printf("%d intact, %d partial, %d empty\n", verdicts.value(QStringLiteral("intact")),
                    verdicts.value(QStringLiteral("partial")), verdicts.value(QStringLiteral("empty")));
        if (unreadable)
            std::printf("%llu bytes of the card could not be read and were taken as zeros\n", unreadable);
        if (failed)
            std::printf("%d files could not be written completely; the first: %s\n", failed, qPrintable(first_error));
        std::printf("Wrote %llu bytes\n", static_cast<unsigned long long>(bytes_written));
        std::printf("Read %s: the scan %llu, the recovery %llu\n", qPrintable(bytes_of_source(total_read, source_size())),
                    static_cast<unsigned long long>(scan_read), static_cast<unsigned long long>(total_read - scan_read));
        std::printf("Peak memory %llu bytes\n", static_cast<unsigned long long>(peak_memory));
    }
    return failed ? EXIT_DESTINATION : EXIT_OK;
}

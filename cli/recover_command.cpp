#include "cli/commands.h"

#include "cli/json_writer.h"
#include "cli/run_worker.h"
#include "cli/scan_report.h"
#include "cli/scan_run.h"
#include "cli/source_choice.h"
#include "cli/video_listing.h"
#include "cli/work_dir.h"
#include "drives/destination_check.h"
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

struct RecoverOptions {
    QString source;
    QString folder;
    QString work;
    bool json = false;
    bool choose = false;  // --only or --photos: only the files named
    std::vector<int> videos;
    std::vector<int> photos;
};

// "3,7,12": numbers from 0, at least one.
bool parse_numbers(const QString &text, std::vector<int> *numbers)
{
    const QStringList parts = text.split(QLatin1Char(','));
    for (const QString &part : parts) {
        bool ok = false;
        const int n = part.trimmed().toInt(&ok);
        if (!ok || n < 0)
            return false;
        numbers->push_back(n);
    }
    return !numbers->empty();
}

bool parse(const QStringList &args, RecoverOptions *o)
{
    QStringList positional;
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        const bool has_value = i + 1 < args.size();
        if (a == QLatin1String("--json")) {
            o->json = true;
        } else if (a == QLatin1String("--work") && has_value) {
            o->work = args[++i];
        } else if (a == QLatin1String("--only") && has_value) {
            o->choose = true;
            if (!parse_numbers(args[++i], &o->videos))
                return false;
        } else if (a == QLatin1String("--photos") && has_value) {
            o->choose = true;
            if (!parse_numbers(args[++i], &o->photos))
                return false;
        } else if (a.startsWith(QLatin1String("--"))) {
            return false;
        } else {
            positional << a;
        }
    }
    if (positional.size() != 2)
        return false;
    o->source = positional[0];
    o->folder = positional[1];
    return true;
}

// The first number the scan did not find, as a message; empty when all were.
QString missing_number(const std::vector<int> &numbers, std::uint32_t found, const char *what)
{
    for (const int n : numbers)
        if (std::uint32_t(n) >= found)
            return found == 0 ? QStringLiteral("there is no %1 %2: the scan found none").arg(QLatin1String(what)).arg(n)
                              : QStringLiteral("there is no %1 %2: the scan found %3, numbered 0 to %4")
                                        .arg(QLatin1String(what)).arg(n).arg(found).arg(found - 1);
    return QString();
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
    RecoverOptions options;
    QString error;
    if (!parse(args, &options)) {
        std::fprintf(stderr, "usage: tessaro-cli recover SOURCE FOLDER [--only N,M,...] [--photos N,...] [--json] "
                             "[--work DIR]\n");
        return EXIT_USAGE;
    }
    const QString &source = options.source;
    const bool json = options.json;
    if (!choose_source(source, &error)) {
        report_cannot_open(source, error);
        return EXIT_SOURCE;
    }
    const QString on_source = destination_on_source(options.folder, source_path());
    if (!on_source.isEmpty()) {
        std::fprintf(stderr, "tessaro-cli: %s\n", qPrintable(on_source));
        return EXIT_DESTINATION;
    }
    QString dir;
    const bool earlier = QDir(QDir(options.folder).absolutePath() + QStringLiteral("/KorvoRecoverFile"))
                                 .entryList(QDir::Files).size() > 0;
    if (!prepare_folder(options.folder, &dir, &error)) {
        std::fprintf(stderr, "tessaro-cli: %s\n", qPrintable(error));
        return EXIT_DESTINATION;
    }
    RunWorkDir work;
    if (!work.set_up(options.work, &error)) {
        std::fprintf(stderr, "tessaro-cli: work folder: %s\n", qPrintable(error));
        return EXIT_DESTINATION;
    }
    QString failure;
    if (!run_scan(&failure)) {
        report_cannot_open(source_path(), failure);
        return EXIT_SOURCE;
    }
    QString missing = missing_number(options.videos, video_total, "video");
    if (missing.isEmpty())
        missing = missing_number(options.photos, photo_num, "photo");
    if (!missing.isEmpty()) {
        std::fprintf(stderr, "tessaro-cli: %s\n", qPrintable(missing));
        return EXIT_USAGE;
    }
    if (earlier)
        std::fprintf(stderr, "tessaro-cli: %s holds an earlier recovery; files of the same names are written over\n",
                     qPrintable(dir));

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
    if (options.choose)
        thread.setChoice(RecoveryChoice::only(options.videos, options.photos));
    // A video's file, whatever its extension, by its number: the files
    // judged with chunks are videos, named by their number.
    QMap<QString, int> video_numbers;
    QObject::connect(&thread, &savefile_new::fileJudged, &thread,
                     [&](const QString &name, const QString &verdict, int located, int chunks) {
                         judged = {name, false, {}, verdict, located, chunks};
                         if (chunks >= 0)
                             video_numbers.insert(name, QFileInfo(name).completeBaseName().toInt());
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
        w.key("chosen");
        w.flag(options.choose);
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
            if (video_numbers.contains(f.name))
                write_video_facts(w, facts_of_video(video_numbers.value(f.name)));
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
        // Recordings whose index was never written, counted apart.
        w.key("rebuilt_index");
        w.value(std::uint64_t(verdicts.value(QStringLiteral("rebuilt index"))));
        w.key("no_index");
        w.value(std::uint64_t(verdicts.value(QStringLiteral("no index"))));
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
        int videos_written = 0;
        for (const WrittenFile &f : files)
            videos_written += video_numbers.contains(f.name);
        std::printf("Recovered %d of %u videos and %d of %u photos into %s\n", videos_written, video_total,
                    int(files.size()) - videos_written, photo_num, qPrintable(dir));
        for (const WrittenFile &f : files) {
            if (!video_numbers.contains(f.name))
                continue;
            VideoFacts facts = facts_of_video(video_numbers.value(f.name));
            facts.file_size = std::uint64_t(QFileInfo(f.name).size());
            std::printf("%s\n", qPrintable(video_line(video_numbers.value(f.name), facts, judgement(f))));
        }
        // Partial and empty files were written whole all the same: what they
        // lack was not found on the card.
        std::printf("%d intact, %d partial, %d empty\n", verdicts.value(QStringLiteral("intact")),
                    verdicts.value(QStringLiteral("partial")), verdicts.value(QStringLiteral("empty")));
        const int rebuilt = verdicts.value(QStringLiteral("rebuilt index")), raw = verdicts.value(QStringLiteral("no index"));
        if (rebuilt + raw != 0)
            std::printf("%d with an index made anew (video only, no sound), %d without index as raw streams\n", rebuilt,
                        raw);
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

#include "cli/commands.h"

#include "cli/progress_printer.h"
#include "cli/scan_report.h"
#include "cli/source_choice.h"
#include "cli/work_dir.h"
#include "drives/drive_table.h"
#include "scan/scan_tables.h"
#include "scan/scan_thread.h"

#include <QCoreApplication>
#include <cstdio>

namespace {

struct ScanOptions {
    QString source;
    QString work;
    bool json = false;
};

bool parse(const QStringList &args, ScanOptions *options)
{
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        if (a == QLatin1String("--json"))
            options->json = true;
        else if (a == QLatin1String("--work") && i + 1 < args.size())
            options->work = args[++i];
        else if (a.startsWith(QLatin1String("--")) || !options->source.isEmpty())
            return false;
        else
            options->source = a;
    }
    return !options->source.isEmpty();
}

}  // namespace

int scan_command(const QStringList &args)
{
    ScanOptions options;
    if (!parse(args, &options)) {
        std::fprintf(stderr, "usage: tessaro-cli scan SOURCE [--json] [--work DIR]\n");
        return EXIT_USAGE;
    }
    QString error;
    if (!choose_source(options.source, &error)) {
        std::fprintf(stderr, "tessaro-cli: cannot open %s: %s\n", qPrintable(options.source), qPrintable(error));
        return EXIT_SOURCE;
    }
    RunWorkDir work;
    if (!work.set_up(options.work, &error)) {
        std::fprintf(stderr, "tessaro-cli: work folder: %s\n", qPrintable(error));
        return EXIT_DESTINATION;
    }

    ProgressPrinter printer;
    QString failure;
    creatimage_aa thread;
    QObject::connect(&thread, &creatimage_aa::UpdateSignal_num, &thread,
                     [&](int code) { printer.code(code, video_total, photo_num); });
    QObject::connect(&thread, &creatimage_aa::sourceFailed, &thread, [&](const QString &why) { failure = why; });
    QObject::connect(&thread, &QThread::finished, QCoreApplication::instance(), &QCoreApplication::quit);
    thread.start();
    QCoreApplication::exec();
    thread.wait();
    printer.finish();

    if (!failure.isEmpty()) {
        std::fprintf(stderr, "tessaro-cli: cannot open %s: %s\n", qPrintable(source_path()), qPrintable(failure));
        return EXIT_SOURCE;
    }
    if (options.json)
        std::printf("%s\n", qPrintable(scan_report_json(source_path(), source_size())));
    else
        std::printf("%s", qPrintable(scan_report_text(source_path(), source_size(), work.path(), work.kept())));
    return EXIT_OK;
}

#include "cli/commands.h"

#include "cli/scan_report.h"
#include "cli/scan_run.h"
#include "cli/source_choice.h"
#include "cli/work_dir.h"
#include "drives/drive_table.h"
#include "scan/byte_source.h"
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
    const std::uint64_t read_at_start = source_bytes_read();
    ScanOptions options;
    if (!parse(args, &options)) {
        std::fprintf(stderr, "usage: tessaro-cli scan SOURCE [--json] [--work DIR]\n");
        return EXIT_USAGE;
    }
    QString error;
    if (!choose_source(options.source, &error)) {
        report_cannot_open(options.source, error);
        return EXIT_SOURCE;
    }
    RunWorkDir work;
    if (!work.set_up(options.work, &error)) {
        std::fprintf(stderr, "tessaro-cli: work folder: %s\n", qPrintable(error));
        return EXIT_DESTINATION;
    }

    QString failure;
    run_scan(&failure);

    if (!failure.isEmpty()) {
        report_cannot_open(source_path(), failure);
        return EXIT_SOURCE;
    }
    const CommandCost cost{source_bytes_read() - read_at_start, peak_memory_bytes()};
    if (options.json)
        std::printf("%s\n", qPrintable(scan_report_json(source_path(), source_size(), cost)));
    else
        std::printf("%s", qPrintable(scan_report_text(source_path(), source_size(), work.path(), work.kept(), cost)));
    return EXIT_OK;
}

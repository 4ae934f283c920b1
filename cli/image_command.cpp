#include "cli/commands.h"

#include "cli/run_worker.h"
#include "cli/source_choice.h"
#include "drives/device_size.h"
#include "image/image_checks.h"
#include "image/image_copy.h"

#include <cstdio>
#include <unistd.h>

int image_command(const QStringList &args)
{
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: tessaro-cli image DEVICE FILE.img\n");
        return EXIT_USAGE;
    }
    const QString device = args[0];
    const QString destination = args[1];
    std::uint64_t size = 0;
    QString error;
    if (!source_byte_size(device, &size, &error)) {
        report_cannot_open(device, error);
        return EXIT_SOURCE;
    }
    switch (check_image_destination(size, destination)) {
    case ImageRefusal::NoSpace:
        std::fprintf(stderr, "tessaro-cli: no have available space. (%llu GB to copy)\n",
                     static_cast<unsigned long long>(whole_gigabytes(size)));
        return EXIT_DESTINATION;
    case ImageRefusal::WrongFormat:
        std::fprintf(stderr, "tessaro-cli: disk format is wrong (a FAT32 destination cannot hold more than 4 GB)\n");
        return EXIT_DESTINATION;
    case ImageRefusal::None:
        break;
    }

    const bool terminal = isatty(STDERR_FILENO) == 1;
    int last_percent = -1;
    bool ok = false;
    qulonglong unreadable = 0;
    creatimage copy(device, size, destination);
    QObject::connect(&copy, &creatimage::UpdateSignal, &copy, [&](qulonglong done) {
        const int percent = size ? int(done * 100 / size) : 100;
        if (percent == last_percent)
            return;
        last_percent = percent;
        std::fprintf(stderr, terminal ? "\rcopying %3d%%  %llu / %llu bytes" : "copying %d%%  %llu / %llu bytes\n",
                     percent, static_cast<unsigned long long>(done), static_cast<unsigned long long>(size));
    });
    QObject::connect(&copy, &creatimage::copyFinished, &copy, [&](bool good, qulonglong lost, const QString &why) {
        ok = good;
        unreadable = lost;
        error = why;
    });
    run_worker(copy);
    if (terminal && last_percent >= 0)
        std::fputc('\n', stderr);

    if (!ok) {
        const QString source_prefix = QStringLiteral("cannot open %1: ").arg(device);
        if (error.startsWith(source_prefix)) {
            report_cannot_open(device, error.mid(source_prefix.size()));
            return EXIT_SOURCE;
        }
        std::fprintf(stderr, "tessaro-cli: %s\n", qPrintable(error));
        return EXIT_DESTINATION;
    }
    std::printf("Finished: %s holds %llu bytes of %s\n", qPrintable(destination), static_cast<unsigned long long>(size),
                qPrintable(device));
    if (unreadable)
        std::printf("%llu bytes could not be read and were written as zeros\n", unreadable);
    return EXIT_OK;
}

// tessaro-cli: the scan and recovery engine from the command line.
#include "cli/commands.h"

#include <QCoreApplication>
#include <cstdio>

namespace {

// The engine's debug lines are for whoever asked for them; without
// --verbose they would mix with the progress on stderr.
void quiet(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtDebugMsg || type == QtInfoMsg)
        return;
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
}

void usage()
{
    std::fprintf(stderr,
                 "usage: tessaro-cli drives\n"
                 "       tessaro-cli scan SOURCE [--json] [--work DIR]\n"
                 "       tessaro-cli recover SOURCE FOLDER [--only N,M,...] [--photos N,...] [--json] [--work DIR]\n"
                 "       tessaro-cli image DEVICE FILE.img\n"
                 "       tessaro-cli --version\n"
                 "SOURCE is a listed drive (/dev/...), another block device or an image file.\n"
                 "--verbose, with any command, writes the engine's diagnostic lines to stderr.\n");
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (!args.removeAll(QStringLiteral("--verbose")))
        qInstallMessageHandler(quiet);
    if (args.isEmpty()) {
        usage();
        return EXIT_USAGE;
    }
    const QString command = args.takeFirst();
    if (command == QLatin1String("--version")) {
        std::printf("tessaro-cli %s\n", TESSARO_VERSION);
        return EXIT_OK;
    }
    if (command == QLatin1String("drives"))
        return drives_command(args);
    if (command == QLatin1String("scan"))
        return scan_command(args);
    if (command == QLatin1String("recover"))
        return recover_command(args);
    if (command == QLatin1String("image"))
        return image_command(args);
    usage();
    return EXIT_USAGE;
}

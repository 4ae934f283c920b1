// tessaro-cli: the scan and recovery engine from the command line.
#include "cli/commands.h"

#include <QCoreApplication>
#include <cstdio>

namespace {

void usage()
{
    std::fprintf(stderr,
                 "usage: tessaro-cli drives\n"
                 "       tessaro-cli scan SOURCE [--json] [--work DIR]\n"
                 "       tessaro-cli recover SOURCE FOLDER [--json] [--work DIR]\n"
                 "       tessaro-cli image DEVICE FILE.img\n"
                 "       tessaro-cli --version\n"
                 "SOURCE is a listed drive (/dev/...), another block device or an image file.\n");
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
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

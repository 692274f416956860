#include "app/qt/ProgramInfo.h"

#include "res/Version.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>
#include <string_view>
#include <vector>

namespace {

constexpr const char* Description =
    "Programs PIC18F452 boards through their serial bootloader. Press Flash, confirm the COM "
    "port the board is on, pick an Intel HEX file: Tervix checks the device number, erases the "
    "application area (0x200-0x7FFF), writes and reads back every row, sets run mode and shows "
    "the steps as five lamps.\n\n"
    "COM1..COM21 map to the links of that name in $TERVIX_PORTS, else in "
    "~/.config/tervix/ports, else to the serial devices present (/dev/ttyUSB*, /dev/ttyACM*, "
    "/dev/ttyS*). A device that exists but may not be opened is named in a box with the group "
    "to join. For scripts use tervix-flash.";

bool AsksForInfo(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h" || arg == "--help-all" || arg == "--version" ||
            arg == "-v") {
            return true;
        }
    }
    return false;
}

} // namespace

std::optional<int> AnswerProgramInfo(int argc, char* argv[]) {
    if (!AsksForInfo(argc, argv)) {
        return std::nullopt;
    }
    // The usage line names the program, not the path it was started by.
    char name[] = "tervix";
    std::vector<char*> args(argv, argv + argc);
    args[0] = name;
    int count = argc;
    QCoreApplication application(count, args.data());
    QCoreApplication::setApplicationName(QStringLiteral("tervix"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(TervixVersion));
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(Description));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.parse(QCoreApplication::arguments());
    // showHelp and showVersion would end the process from inside; print and return instead.
    const QString text = parser.isSet(version)
                             ? QStringLiteral("tervix %1\n").arg(QString::fromLatin1(TervixVersion))
                             : parser.helpText();
    std::fputs(text.toLocal8Bit().constData(), stdout);
    return 0;
}

#include "cli/LineOptions.h"

#include "cli/ExitStatus.h"
#include "cli/Messages.h"
#include "line/FileDigest.h"
#include "line/LineClient.h"
#include "target/TargetProfile.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace {

constexpr const char* FormatHelp =
    "How the number is written: u16le, u16be, u32le, u32be, u64le, u64be, ascii:N (decimal, "
    "zero-padded to N bytes), hex:N (upper-case hexadecimal digits, N bytes) or bytes (a list "
    "value given as hexadecimal bytes; bytes:N gives the length)";

CLI::Option* AddPlace(CLI::App* command, LineOptions& options, const char* help) {
    CLI::Option* at =
        command->add_option("--serial-at", options.SerialAt, help)->option_text("SPACE:ADDRESS");
    CLI::Option* format =
        command->add_option("--serial-format", options.SerialFormatText, FormatHelp)
            ->option_text("FORMAT");
    at->needs(format);
    format->needs(at);
    return at;
}

void AddRecordOptions(CLI::App* command, LineOptions& options) {
    command
        ->add_option("--tag", options.Tags,
                     "Add KEY=VALUE to the record's tags (operator, work order, lot); repeatable")
        ->option_text("KEY=VALUE")
        ->allow_extra_args(false);
    command
        ->add_option("--expect-sha256", options.ExpectSha256,
                     "Refuse the run (2) unless the file's SHA-256 is this")
        ->option_text("HEX");
}

} // namespace

void AddFlashLineOptions(CLI::App* command, LineOptions& options) {
    options.Writes = true;
    CLI::Option* at = AddPlace(command, options,
                               "Write a serial number here, after the image: SPACE is program, "
                               "eeprom or id, ADDRESS decimal or 0x...");
    CLI::Option* counter =
        command
            ->add_option("--serial-counter", options.SerialCounter,
                         "Take the numbers from this counter file (the next number in decimal); "
                         "journal in FILE.journal")
            ->option_text("FILE");
    CLI::Option* list = command
                            ->add_option("--serial-list", options.SerialList,
                                         "Take the numbers from this list file, one value per "
                                         "line, each given out once; journal in FILE.journal")
                            ->option_text("FILE");
    CLI::Option* step = command
                            ->add_option("--serial-step", options.SerialStep,
                                         "Add this to the counter for each number (default 1)")
                            ->check(CLI::Range(std::uint64_t{1}, UINT64_MAX))
                            ->option_text("S");
    CLI::Option* keep = command->add_flag(
        "--serial-keep", options.SerialKeep,
        "A board that already holds a number at the place (not all 0xFF) keeps it and takes none");
    counter->excludes(list);
    counter->needs(at);
    list->needs(at);
    step->needs(counter);
    keep->needs(at);
    AddRecordOptions(command, options);
    command->add_option("--station", options.Station)->group("");
    command->add_option("--position", options.Position)->group("");
    command->add_option("--project-name", options.Project)->group("");

    CLI::Option* line =
        command
            ->add_option("--line", options.LineUrl,
                         "Send every board's record to this line server (http://HOST:PORT or "
                         "https://...), first through the spool")
            ->option_text("URL");
    CLI::Option* pool =
        command
            ->add_option("--line-pool", options.LinePool,
                         "Take the numbers from this pool of the line server, in place of "
                         "--serial-counter or --serial-list")
            ->option_text("NAME");
    CLI::Option* tokenFile =
        command
            ->add_option("--line-token-file", options.LineTokenFile,
                         "The station's token is this file's first line (default: "
                         "$TERVIX_LINE_TOKEN)")
            ->option_text("FILE");
    CLI::Option* lease = command
                             ->add_option("--line-lease", options.LineLease,
                                          "Hold each number on a lease of this many seconds, "
                                          "renewed while its board runs (default 60)")
                             ->check(CLI::Range(3, 3600))
                             ->option_text("SECONDS");
    CLI::Option* spool =
        command
            ->add_option("--line-spool", options.LineSpool,
                         std::string("Where records and ends wait until the server has them "
                                     "(default ") +
                             DefaultSpoolName + " in this folder)")
            ->option_text("FILE");
    pool->needs(line);
    pool->needs(at);
    pool->excludes(counter);
    pool->excludes(list);
    tokenFile->needs(line);
    lease->needs(pool);
    spool->needs(line);
}

void AddVerifyLineOptions(CLI::App* command, LineOptions& options) {
    AddPlace(command, options,
             "Print the serial number the board holds here: SPACE is program, eeprom or id");
    AddRecordOptions(command, options);
}

int CheckLineOptions(LineOptions& options, const std::string& file, std::size_t boards) {
    // The places and the file are judged against the profile's memory map.
    LoadDefaults();
    options.TagPairs.clear();
    for (const std::string& tag : options.Tags) {
        const auto equals = tag.find('=');
        if (equals == std::string::npos || equals == 0) {
            return Fail(ExitStatus::Usage, std::string("--tag ") + tag + ": give KEY=VALUE");
        }
        const std::string key = tag.substr(0, equals);
        if (std::any_of(options.TagPairs.begin(), options.TagPairs.end(),
                        [&key](const auto& pair) { return pair.first == key; })) {
            return Fail(ExitStatus::Usage, std::string("--tag ") + key + " is given twice");
        }
        options.TagPairs.emplace_back(key, tag.substr(equals + 1));
    }
    if (!options.ExpectSha256.empty()) {
        std::string expected = options.ExpectSha256;
        std::transform(expected.begin(), expected.end(), expected.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (expected.size() != 64 ||
            !std::all_of(expected.begin(), expected.end(),
                         [](unsigned char c) { return std::isxdigit(c) != 0; })) {
            return Fail(ExitStatus::Usage,
                        std::string("--expect-sha256 takes 64 hexadecimal digits, not ") +
                            options.ExpectSha256);
        }
        // Compared with the bytes the run reads once and flashes, not with the file as it is now.
        options.ExpectedSha256 = expected;
    }
    if (int status = TakeLineServer(options); status != ExitStatus::Success) {
        return status;
    }
    if (options.SerialAt.empty()) {
        return ExitStatus::Success;
    }
    if (options.Writes && options.SerialCounter.empty() && options.SerialList.empty() &&
        options.LinePool.empty()) {
        return Fail(ExitStatus::Usage, "--serial-at needs --serial-counter FILE, --serial-list "
                                       "FILE or --line-pool NAME");
    }
    std::string why;
    const auto place = ParseSerialPlace(options.SerialAt, why);
    const auto format = place ? ParseSerialFormat(options.SerialFormatText, why) : std::nullopt;
    if (!format) {
        return Fail(ExitStatus::Usage, why);
    }
    options.Serial.Place = place;
    options.Serial.Format = *format;
    options.Serial.Source = {options.SerialCounter, options.SerialList, options.SerialStep};
    options.Serial.Keep = options.SerialKeep;
    if (SerialFault fault =
            CheckSerialSettings(options.Serial, options.Writes ? file : "", boards)) {
        return Fail(fault.What == SerialFault::Usage ? ExitStatus::Usage : ExitStatus::File,
                    SerialFaultText(fault));
    }
    return ExitStatus::Success;
}

int TakeLineServer(LineOptions& options) {
    if (options.LineUrl.empty()) {
        return ExitStatus::Success;
    }
    std::string why;
    if (!ParseLineAddress(options.LineUrl, why)) {
        return Fail(ExitStatus::Usage, "--line: " + why);
    }
    LineSettings& line = options.Line;
    line.Url = options.LineUrl;
    line.Pool = options.LinePool;
    line.Token = LineToken(options.LineTokenFile, why);
    if (line.Token.empty()) {
        return Fail(ExitStatus::Usage, why);
    }
    line.LeaseSeconds = options.LineLease;
    line.Station = options.Station;
    // A board's child works in a folder of its own: the spool is the run's, named from here.
    line.Spool = std::filesystem::absolute(options.LineSpool).string();
    return ExitStatus::Success;
}

RecordPlace RecordPlaceOf(const LineOptions& options) {
    RecordPlace place;
    if (!options.Station.empty()) {
        place.Station = options.Station;
        place.Project = options.Project;
    }
    if (options.Position > 0) {
        place.Position = options.Position;
    }
    return place;
}

std::string SerialFaultText(const SerialFault& fault) {
    switch (fault.Which) {
    case SerialFault::BytesFromCounter:
        return "--serial-format bytes takes its values from --serial-list, not a counter";
    case SerialFault::BytesNeedLength:
        return "--serial-format bytes needs its length here: give bytes:N";
    case SerialFault::PlaceRefused:
        return "--serial-at: " + fault.Why;
    case SerialFault::Other:
        break;
    }
    return fault.Why;
}

std::vector<std::string> SerialChildArgs(const LineOptions& options) {
    struct Given {
        const char* Option;
        const std::string& Value;
        bool File; // a board's child works in a folder of its own: files are named from here
    };
    std::vector<std::string> args;
    for (const Given& given : {Given{"--serial-at", options.SerialAt, false},
                               Given{"--serial-format", options.SerialFormatText, false},
                               Given{"--serial-counter", options.SerialCounter, true},
                               Given{"--serial-list", options.SerialList, true}}) {
        if (!given.Value.empty()) {
            args.insert(args.end(),
                        {given.Option, given.File ? std::filesystem::absolute(given.Value).string()
                                                  : given.Value});
        }
    }
    if (!options.SerialCounter.empty()) {
        args.insert(args.end(), {"--serial-step", std::to_string(options.SerialStep)});
    }
    if (options.SerialKeep) {
        args.emplace_back("--serial-keep");
    }
    const LineSettings& line = options.Line;
    if (line.Used()) {
        // The token goes by its file, or by the environment the child inherits; never on a
        // command line that every user of the computer may read.
        args.insert(args.end(), {"--line", line.Url, "--line-spool", line.Spool});
        if (!line.Pool.empty()) {
            args.insert(args.end(), {"--line-pool", line.Pool, "--line-lease",
                                     std::to_string(line.LeaseSeconds)});
        }
        if (!options.LineTokenFile.empty()) {
            args.insert(args.end(), {"--line-token-file",
                                     std::filesystem::absolute(options.LineTokenFile).string()});
        }
    }
    return args;
}

int ProjectLineOptions(const Project& project, LineOptions& options) {
    // Where the numbers come from is the project's to say: [serial] counter or list, or [line]
    // pool. Its records may go to a server it does not name.
    if (!options.LinePool.empty()) {
        return Fail(ExitStatus::Usage, "--line-pool: the numbers of " + project.Path +
                                           " come from its own [serial] or [line] pool");
    }
    if (project.Line && !options.LineUrl.empty()) {
        return Fail(ExitStatus::Usage,
                    project.Where("line") + " names the line server; leave out --line");
    }
    options.Writes = true;
    if (project.Serial) {
        const SerialSettings& serial = project.Serial->Settings;
        options.SerialAt = project.Serial->At;
        options.SerialFormatText = project.Serial->Format;
        options.SerialCounter = serial.Source.Counter;
        options.SerialList = serial.Source.List;
        options.SerialStep = serial.Source.Step;
        options.SerialKeep = serial.Keep;
    }
    if (project.Line) {
        options.LineUrl = project.Line->Url;
        options.LinePool = project.Line->Pool;
    }
    options.Tags.clear();
    for (const auto& [key, value] : project.Tags) {
        options.Tags.push_back(key + "=" + value);
    }
    options.ExpectSha256 = project.Sha256.value_or("");
    return ExitStatus::Success;
}

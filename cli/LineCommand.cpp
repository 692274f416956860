#include "cli/LineCommand.h"

#include "cli/ExitStatus.h"
#include "cli/Messages.h"
#include "line/LineClient.h"
#include "line/LinePush.h"
#include "line/LineSettings.h"

#include <cstdio>

CLI::App* AddLineCommand(CLI::App& app, LineCommandOptions& options) {
    CLI::App* line = app.add_subcommand("line", "The line server: what a station's spool holds");
    line->require_subcommand(1);
    line->footer(ExitStatusHelp);
    CLI::App* push = line->add_subcommand(
        "push", "Send what waits in a spool to the line server and say what is left");
    options.Spool = DefaultSpoolName;
    push->add_option("SPOOL", options.Spool,
                     std::string("The spool (default ") + DefaultSpoolName +
                         " in this folder, where flash and station keep it)");
    push->add_option("--line", options.Url,
                     "Send to this server (http://HOST:PORT) instead of the one each entry "
                     "names")
        ->option_text("URL");
    push->add_option("--line-token-file", options.TokenFile,
                     "The station's token is this file's first line (default: "
                     "$TERVIX_LINE_TOKEN)")
        ->option_text("FILE");
    return line;
}

int RunLine(const LineCommandOptions& options) {
    std::string why;
    if (!options.Url.empty() && !ParseLineAddress(options.Url, why)) {
        return Fail(ExitStatus::Usage, why);
    }
    const std::string token = LineToken(options.TokenFile, why);
    if (token.empty()) {
        return Fail(ExitStatus::Usage, why);
    }
    const PushReport report = PushSpool(LineSpool(options.Spool), token, options.Url);
    for (const std::string& note : report.Notes) {
        std::fprintf(stderr, "%s\n", note.c_str());
    }
    std::printf("%s: %zu sent, %zu set aside, %zu left\n", options.Spool.c_str(), report.Sent,
                report.SetAside, report.Left);
    if (!report.Failure.empty()) {
        return Fail(ExitStatus::File, report.Failure);
    }
    if (report.Damaged > 0) {
        return Fail(ExitStatus::File, options.Spool + " holds " + std::to_string(report.Damaged) +
                                          " lines that are no entries; they stay there for a "
                                          "person to look at");
    }
    if (report.Left > 0) {
        return Fail(ExitStatus::Connection, report.Away + "; " + std::to_string(report.Left) +
                                                " left in " + options.Spool + " for the next push");
    }
    if (report.SetAside > 0) {
        return Fail(ExitStatus::File, "the line server refused " + std::to_string(report.SetAside) +
                                          " entries for good: see " + options.Spool + ".refused");
    }
    return ExitStatus::Success;
}

void SendSpool(const LineSettings& line, bool quiet) {
    const PushReport report = PushSpool(LineSpool(line.Spool), line.Token, "");
    for (const std::string& note : report.Notes) {
        std::fprintf(stderr, "%s\n", note.c_str());
    }
    if (report.Sent > 0 && !quiet) {
        std::fprintf(stderr, "%s: %zu sent to the line server\n", line.Spool.c_str(), report.Sent);
    }
    const std::string why = report.Failure.empty() ? report.Away : report.Failure;
    if (report.Left > 0 || report.Damaged > 0) {
        std::fprintf(stderr,
                     "tervix-flash: %zu records or ends wait in %s (%s); tervix-flash line push "
                     "sends them\n",
                     report.Left + report.Damaged, line.Spool.c_str(), why.c_str());
    }
}

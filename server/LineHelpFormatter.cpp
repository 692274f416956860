#include "server/LineHelpFormatter.h"

std::string LineHelpFormatter::make_help(const CLI::App* app, std::string name,
                                         CLI::AppFormatMode mode) const {
    if (mode != CLI::AppFormatMode::Sub) {
        expandAll_ = mode == CLI::AppFormatMode::All;
    }
    return HelpFormatter::make_help(app, std::move(name), mode);
}

std::string LineHelpFormatter::make_subcommands(const CLI::App* app,
                                                CLI::AppFormatMode mode) const {
    return HelpFormatter::make_subcommands(app, expandAll_ ? CLI::AppFormatMode::All : mode);
}

#pragma once
// tervix-flash's help layout, with --help-all reaching the commands of commands (pool add, token
// add), so that the manual page made of it lists their options too.

#include "cli/HelpFormatter.h"

class LineHelpFormatter : public HelpFormatter {
public:
    std::string make_help(const CLI::App* app, std::string name,
                          CLI::AppFormatMode mode) const override;
    std::string make_subcommands(const CLI::App* app, CLI::AppFormatMode mode) const override;

private:
    mutable bool expandAll_ = false; // --help-all is being printed
};

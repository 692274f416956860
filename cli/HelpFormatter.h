#pragma once
// Help text that reads well on a terminal and in the manual page that help2man makes of
// --help-all: each command's description and headings are paragraphs of their own, and the exit
// statuses become the manual's EXIT STATUS section.

#include <CLI/CLI.hpp>

#include <string>

class HelpFormatter : public CLI::Formatter {
public:
    std::string make_help(const CLI::App* app, std::string name,
                          CLI::AppFormatMode mode) const override;
    std::string make_expanded(const CLI::App* sub) const override;
    std::string make_footer(const CLI::App* app) const override;

private:
    mutable bool all_ = false; // --help-all is being printed
};

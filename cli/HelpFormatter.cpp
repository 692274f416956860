#include "cli/HelpFormatter.h"

#include "cli/ExitStatus.h"

std::string HelpFormatter::make_help(const CLI::App* app, std::string name,
                                     CLI::AppFormatMode mode) const {
    // Each command of --help-all comes back here as a part (Sub) of the whole.
    if (mode != CLI::AppFormatMode::Sub) {
        all_ = mode == CLI::AppFormatMode::All;
    }
    return CLI::Formatter::make_help(app, std::move(name), mode);
}

// As CLI11's own, but the blank lines between description, positionals and options stay:
// without them help2man runs each heading into the text before it.
std::string HelpFormatter::make_expanded(const CLI::App* sub) const {
    std::string text = sub->get_display_name(true) + "\n" + make_description(sub) +
                       make_positionals(sub) + make_groups(sub, CLI::AppFormatMode::Sub) +
                       make_subcommands(sub, CLI::AppFormatMode::Sub);
    while (text.ends_with('\n')) {
        text.pop_back();
    }
    std::string indented;
    for (char c : text) {
        indented += c;
        if (c == '\n') {
            indented += "  ";
        }
    }
    // Blank lines stay blank, not two spaces.
    for (std::size_t at; (at = indented.find("\n  \n")) != std::string::npos;) {
        indented.replace(at, 4, "\n\n");
    }
    return indented + "\n\n";
}

// In --help-all the exit statuses are marked as a section of the manual.
std::string HelpFormatter::make_footer(const CLI::App* app) const {
    std::string footer = CLI::Formatter::make_footer(app);
    constexpr std::string_view Heading = "Exit status:\n";
    if (const auto at = footer.find(Heading); all_ && at != std::string::npos) {
        footer.replace(at, Heading.size(), "*Exit status*\n");
    }
    return footer;
}

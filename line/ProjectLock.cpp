#include "line/ProjectLock.h"

#include <vector>

namespace {

// The offset of a line and column of text, the column counted in UTF-8 characters as the TOML
// reader counts them; npos when the text ends before.
std::size_t OffsetOf(const std::string& text, std::uint32_t line, std::uint32_t column) {
    std::size_t at = 0;
    for (std::uint32_t l = 1; l < line; ++l) {
        at = text.find('\n', at);
        if (at == std::string::npos) {
            return at;
        }
        ++at;
    }
    for (std::uint32_t c = 1; c < column; ++c) {
        if (at >= text.size() || text[at] == '\n') {
            return std::string::npos;
        }
        ++at;
        while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) {
            ++at;
        }
    }
    return at;
}

} // namespace

std::optional<std::string> LockedProjectText(const std::string& text, const Project& project,
                                             const std::string& digest, std::string& why) {
    std::string locked = text;
    const std::string value = "\"" + digest + "\"";
    if (const auto sha256 = project.Spans.find("firmware.sha256"); sha256 != project.Spans.end()) {
        const ProjectSpan& span = sha256->second;
        const std::size_t begin = OffsetOf(text, span.Line, span.Column);
        const std::size_t end = OffsetOf(text, span.EndLine, span.EndColumn);
        if (begin != std::string::npos && end != std::string::npos && begin <= end) {
            locked.replace(begin, end - begin, value);
        }
    } else {
        // After the firmware's file, indented as it is, with the file's own line end.
        const ProjectSpan& file = project.Spans.at("firmware.file");
        const std::size_t first = OffsetOf(text, file.Line, 1);
        const std::size_t indent = text.find_first_not_of(" \t", first);
        std::size_t next = OffsetOf(text, file.EndLine + 1, 1);
        const bool crlf = next != std::string::npos && next >= 2 && text[next - 2] == '\r';
        const std::string end = crlf ? "\r\n" : "\n";
        const std::string line = text.substr(first, indent - first) + "sha256 = " + value + end;
        if (next == std::string::npos) {
            locked += end;
            next = locked.size();
        }
        locked.insert(next, line);
    }
    std::vector<std::string> faults;
    const auto again = ParseProject(locked, project.Path, ProjectRead::Use, faults);
    if (!again || again->Sha256 != digest) {
        why = "cannot write firmware.sha256 into " + project.Path + " in place (" +
              (faults.empty() ? std::string("it would not read back") : faults.front()) +
              "); add the line sha256 = \"\" to its [firmware] table and lock again";
        return std::nullopt;
    }
    return locked;
}

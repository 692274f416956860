#include "line/Project.h"

#include "line/ProjectShape.h"
#include "target/CFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <system_error>

namespace {

namespace fs = std::filesystem;

// Far more than any project needs: a device or a pipe named as the project must not fill memory.
constexpr std::size_t MaxProjectBytes = std::size_t{1} << 20;

const ProjectTable* FindTable(std::string_view name) {
    for (const ProjectTable& table : ProjectTables()) {
        if (name == table.Name) {
            return &table;
        }
    }
    return nullptr;
}

void TakeKey(const ProjectKey& field, const toml::node& value, const std::string& key,
             ProjectReader& reader) {
    reader.Note(key, value);
    if (field.Type == toml::node_type::none) {
        field.Into(value, key, reader);
        return;
    }
    if (!reader.Expect(value, key, field.Type)) {
        return;
    }
    if (field.Type == toml::node_type::string && TextOf(value).empty()) {
        reader.Bad(value, key + " is empty");
        return;
    }
    field.Into(value, key, reader);
}

// Takes the keys of one table; the top level's tables are read by their own entries.
void ReadTable(const ProjectTable& shape, const toml::table& table, ProjectReader& reader) {
    const std::string prefix = *shape.Name ? std::string(shape.Name) + "." : std::string();
    for (const auto& [name, value] : table) {
        const std::string key = prefix + std::string(name.str());
        const auto field =
            std::find_if(shape.Keys.begin(), shape.Keys.end(),
                         [&name](const ProjectKey& f) { return name.str() == f.Name; });
        if (field != shape.Keys.end()) {
            TakeKey(*field, value, key, reader);
        } else if (const ProjectTable* inner =
                       *shape.Name || name.str().empty() ? nullptr : FindTable(name.str())) {
            reader.Note(key, value);
            if (reader.Expect(value, key, toml::node_type::table)) {
                ReadTable(*inner, *value.as_table(), reader);
            }
        } else {
            reader.Bad(name.source().begin.line, "unknown key " + key);
        }
    }
    for (const ProjectKey& field : shape.Keys) {
        if (field.Required && !table.contains(field.Name)) {
            reader.Bad(*shape.Name ? table.source().begin.line : 0,
                       prefix + field.Name + " is missing");
        }
    }
    if (shape.Finish != nullptr) {
        shape.Finish(table, reader);
    }
}

// The folder of the file path leads to: through a link to a project kept elsewhere, the files
// beside the project are meant, not those beside the link.
fs::path ProjectFolder(const std::string& path) {
    fs::path file(path);
    std::error_code error;
    // As many links as the system itself follows.
    for (int links = 0; links < 40 && fs::is_symlink(file, error); ++links) {
        const fs::path target = fs::read_symlink(file, error);
        if (error) {
            break;
        }
        file = target.is_absolute() ? target : file.parent_path() / target;
    }
    return file.parent_path();
}

} // namespace

std::string Project::Where(const std::string& key) const {
    const auto span = Spans.find(key);
    return span == Spans.end() ? Path : Path + " line " + std::to_string(span->second.Line);
}

std::optional<Project> ParseProject(const std::string& text, const std::string& path,
                                    ProjectRead read, std::vector<std::string>& faults) {
    const toml::parse_result parsed = toml::parse(text, path);
    if (!parsed) {
        const toml::source_position at = parsed.error().source().begin;
        faults.push_back(path + " line " + std::to_string(at.line) + ", column " +
                         std::to_string(at.column) + ": " +
                         std::string(parsed.error().description()));
        return std::nullopt;
    }
    Project project;
    project.Path = path;
    const toml::table& root = parsed.table();
    ProjectReader reader{project, read, ProjectFolder(path), {}, {}, &root, {}};
    ReadTable(*FindTable(""), root, reader);
    for (const ProjectTable& table : ProjectTables()) {
        if (table.Required && *table.Name && !root.contains(table.Name)) {
            reader.Bad(0, std::string("the table [") + table.Name + "] is missing");
        }
    }
    // Faults of the file as a whole after those on a line, each group in the file's order.
    std::stable_sort(reader.Faults.begin(), reader.Faults.end(), [](const auto& a, const auto& b) {
        return (a.first == 0 ? UINT32_MAX : a.first) < (b.first == 0 ? UINT32_MAX : b.first);
    });
    for (const auto& [line, fault] : reader.Faults) {
        faults.push_back(path + (line == 0 ? "" : " line " + std::to_string(line)) + ": " + fault);
    }
    if (!reader.Faults.empty()) {
        return std::nullopt;
    }
    return project;
}

bool ReadProjectText(const std::string& path, std::string& text, std::string& why) {
    CFile file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        why = "cannot read " + path + ": " + std::generic_category().message(errno);
        return false;
    }
    text.clear();
    char buffer[65536];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
        text.append(buffer, got);
        if (text.size() > MaxProjectBytes) {
            why = "cannot read " + path + ": it holds more than 1 MiB, far more than a project";
            return false;
        }
    }
    if (std::ferror(file.get())) {
        why = "cannot read " + path + ": " + std::generic_category().message(errno);
        return false;
    }
    return true;
}

std::optional<Project> LoadProject(const std::string& path, ProjectRead read,
                                   std::vector<std::string>& faults) {
    std::string text;
    std::string why;
    if (!ReadProjectText(path, text, why)) {
        faults.push_back(why);
        return std::nullopt;
    }
    return ParseProject(text, path, read, faults);
}

std::string FirmwareLockRefusal(const Project& project, const std::string& digest) {
    if (!project.Sha256) {
        return project.Where("firmware") +
               ": firmware.sha256 is missing, so the project is not locked to its firmware; run "
               "tervix-flash project lock " +
               project.Path;
    }
    if (*project.Sha256 != digest) {
        return project.Firmware + " has the SHA-256 " + digest + ", but " +
               project.Where("firmware.sha256") + " locks the project to " + *project.Sha256;
    }
    return {};
}

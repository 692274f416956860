#pragma once
// The keys a project file may hold, each with its type and the check of its value, for the
// reader of the file (line/Project.cpp) alone. A new table or key of the file is one entry in
// ProjectTables().

#include "line/Project.h"

#include <toml++/toml.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

// The project being read, the faults found so far and what the keys' checks share.
struct ProjectReader {
    Project& Into;
    ProjectRead Read;
    std::filesystem::path Folder;
    ProjectSerial Serial;
    ProjectLine Line;
    const toml::table* Root = nullptr; // the whole file, for checks between its tables
    std::vector<std::pair<std::uint32_t, std::string>> Faults; // by line; 0: the file as a whole

    // Where key's value stands, for messages and for editing the file in place.
    void Note(const std::string& key, const toml::node& node) {
        const toml::source_region& region = node.source();
        Into.Spans[key] = {region.begin.line, region.begin.column, region.end.line,
                           region.end.column};
    }
    void Bad(std::uint32_t line, const std::string& text) { Faults.emplace_back(line, text); }
    void Bad(const toml::node& node, const std::string& text) {
        Bad(node.source().begin.line, text);
    }
    // Whether node is of type; a fault naming key otherwise.
    bool Expect(const toml::node& node, const std::string& key, toml::node_type type);
    // Files are named from the project's folder, wherever the program runs.
    std::string Resolve(const std::string& file) const {
        const std::filesystem::path given(file);
        return Folder.empty() || given.is_absolute() ? file : (Folder / given).string();
    }
};

// Takes a value of the key into the project, or says why it cannot.
using ProjectTake = void (*)(const toml::node& value, const std::string& key,
                             ProjectReader& reader);

struct ProjectKey {
    const char* Name;
    // The type the value must have; none: Into judges it.
    toml::node_type Type;
    bool Required;
    ProjectTake Into;
};

struct ProjectTable {
    const char* Name; // "" for the file's top level
    bool Required;
    std::vector<ProjectKey> Keys;
    // The checks between the table's keys, after each key was taken; only for a table present.
    void (*Finish)(const toml::table& table, ProjectReader& reader) = nullptr;
};

// The file's top level first (named ""), then its tables.
const std::vector<ProjectTable>& ProjectTables();

// The text of a string value, "" for any other.
std::string TextOf(const toml::node& node);

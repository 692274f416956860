#include "line/ProjectShape.h"

#include "line/LineHttp.h"

#include <algorithm>
#include <cctype>

namespace {

const char* TypeName(toml::node_type type) {
    switch (type) {
    case toml::node_type::string:
        return "a string";
    case toml::node_type::integer:
        return "an integer";
    case toml::node_type::floating_point:
        return "a floating-point number";
    case toml::node_type::boolean:
        return "true or false";
    case toml::node_type::date:
        return "a date";
    case toml::node_type::time:
        return "a time";
    case toml::node_type::date_time:
        return "a date and time";
    case toml::node_type::array:
        return "an array";
    case toml::node_type::table:
        return "a table";
    default:
        return "nothing";
    }
}

} // namespace

bool ProjectReader::Expect(const toml::node& node, const std::string& key, toml::node_type type) {
    if (node.type() == type) {
        return true;
    }
    Bad(node, key + " must be " + TypeName(type) + ", not " + TypeName(node.type()));
    return false;
}

std::string TextOf(const toml::node& node) {
    return node.value<std::string>().value_or("");
}

namespace {

void TakeSha256(const toml::node& value, const std::string& key, ProjectReader& reader) {
    if (reader.Read == ProjectRead::Lock) {
        // Whatever stands there is about to be replaced; kept as written, to tell what changed.
        reader.Into.Sha256 = value.value<std::string>();
        return;
    }
    if (!reader.Expect(value, key, toml::node_type::string)) {
        return;
    }
    std::string digest = TextOf(value);
    std::transform(digest.begin(), digest.end(), digest.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (digest.size() != 64 || !std::all_of(digest.begin(), digest.end(), [](unsigned char c) {
            return std::isxdigit(c) != 0;
        })) {
        reader.Bad(value, key + " must be 64 hexadecimal digits, not \"" + TextOf(value) +
                              "\" (tervix-flash project lock writes it)");
        return;
    }
    reader.Into.Sha256 = digest;
}

void TakeSerialPlace(const toml::node& value, const std::string& key, ProjectReader& reader) {
    std::string why;
    if (const auto place = ParseSerialPlace(TextOf(value), why)) {
        reader.Serial.At = TextOf(value);
        reader.Serial.Settings.Place = place;
    } else {
        reader.Bad(value, key + ": " + why);
    }
}

void TakeSerialFormat(const toml::node& value, const std::string& key, ProjectReader& reader) {
    std::string why;
    if (const auto format = ParseSerialFormat(TextOf(value), why)) {
        reader.Serial.Format = TextOf(value);
        reader.Serial.Settings.Format = *format;
    } else {
        reader.Bad(value, key + ": " + why);
    }
}

// The pool of [line], wherever the table stands in the file.
const toml::node* LinePool(const ProjectReader& reader) {
    const toml::node* line = reader.Root->get("line");
    return line != nullptr && line->is_table() ? line->as_table()->get("pool") : nullptr;
}

void FinishSerial(const toml::table& table, ProjectReader& reader) {
    SerialSource& source = reader.Serial.Settings.Source;
    if (!source.Counter.empty() && !source.List.empty()) {
        reader.Bad(*table.get("list"), "serial.counter and serial.list exclude each other");
    } else if (const toml::node* pool = LinePool(reader);
               pool != nullptr && !source.File().empty()) {
        reader.Bad(*pool, std::string("line.pool and serial.") +
                              (source.Counter.empty() ? "list" : "counter") +
                              " exclude each other: the numbers come from one of them");
    } else if (source.File().empty() && pool == nullptr) {
        reader.Bad(table.source().begin.line, "serial.counter, serial.list or line.pool is "
                                              "missing: where the numbers come from");
    }
    if (const toml::node* step = table.get("step"); step != nullptr && source.Counter.empty()) {
        reader.Bad(*step, "serial.step counts the numbers of serial.counter only");
    }
    reader.Into.Serial = reader.Serial;
}

void TakeTags(const toml::node& value, const std::string& key, ProjectReader& reader) {
    for (const auto& [name, tag] : *value.as_table()) {
        const std::string tagKey = key + "." + std::string(name.str());
        if (reader.Expect(tag, tagKey, toml::node_type::string)) {
            reader.Into.Tags.emplace_back(std::string(name.str()), TextOf(tag));
        }
    }
}

void TakePorts(const toml::node& value, const std::string& key, ProjectReader& reader) {
    const toml::array& ports = *value.as_array();
    if (ports.empty()) {
        reader.Bad(value, key + " is empty: name the station's ports");
    }
    for (std::size_t i = 0; i < ports.size(); ++i) {
        const std::string portKey = key + "[" + std::to_string(i) + "]";
        reader.Note(portKey, ports[i]);
        if (!reader.Expect(ports[i], portKey, toml::node_type::string)) {
            continue;
        }
        if (TextOf(ports[i]).empty()) {
            reader.Bad(ports[i], portKey + " is empty");
        }
        reader.Into.Ports.push_back(TextOf(ports[i]));
    }
}

void TakeLineUrl(const toml::node& value, const std::string& key, ProjectReader& reader) {
    std::string why;
    if (!ParseLineAddress(TextOf(value), why)) {
        reader.Bad(value, key + ": " + why);
    }
    reader.Line.Url = TextOf(value);
}

void FinishLine(const toml::table& table, ProjectReader& reader) {
    if (table.contains("pool") && !reader.Root->contains("serial")) {
        reader.Bad(*table.get("pool"), "line.pool needs [serial] with at and format: where the "
                                       "numbers go on the board");
    }
    reader.Into.Line = reader.Line;
}

void TakeStart(const toml::node& value, const std::string& key, ProjectReader& reader) {
    const std::string start = TextOf(value);
    if (start == "board" || start == "key") {
        reader.Into.Start = start == "board" ? ProjectStart::Board : ProjectStart::Key;
    } else {
        reader.Bad(value, key + " must be \"board\" or \"key\", not \"" + start + "\"");
    }
}

// The file's shape: a new table or key is one entry here.
} // namespace

const std::vector<ProjectTable>& ProjectTables() {
    using Type = toml::node_type;
    static const std::vector<ProjectTable> tables = {
        {"",
         true,
         {{"name", Type::string, true,
           [](const toml::node& v, const std::string&, ProjectReader& r) {
               r.Into.Name = TextOf(v);
           }}}},
        {"firmware",
         true,
         {{"file", Type::string, true,
           [](const toml::node& v, const std::string&, ProjectReader& r) {
               r.Into.Firmware = r.Resolve(TextOf(v));
           }},
          {"sha256", Type::none, false, TakeSha256},
          {"fast", Type::boolean, false,
           [](const toml::node& v, const std::string&, ProjectReader& r) {
               r.Into.Fast = v.value<bool>().value_or(false);
           }}}},
        {"serial",
         false,
         {{"counter", Type::string, false,
           [](const toml::node& v, const std::string&, ProjectReader& r) {
               r.Serial.Settings.Source.Counter = r.Resolve(TextOf(v));
           }},
          {"list", Type::string, false,
           [](const toml::node& v, const std::string&, ProjectReader& r) {
               r.Serial.Settings.Source.List = r.Resolve(TextOf(v));
           }},
          {"step", Type::integer, false,
           [](const toml::node& v, const std::string& key, ProjectReader& r) {
               const std::int64_t step = v.value<std::int64_t>().value_or(0);
               if (step < 1) {
                   r.Bad(v, key + " must be 1 or more, not " + std::to_string(step));
               }
               r.Serial.Settings.Source.Step = static_cast<std::uint64_t>(step);
           }},
          {"keep", Type::boolean, false,
           [](const toml::node& v, const std::string&, ProjectReader& r) {
               r.Serial.Settings.Keep = v.value<bool>().value_or(false);
           }},
          {"at", Type::string, true, TakeSerialPlace},
          {"format", Type::string, true, TakeSerialFormat}},
         FinishSerial},
        {"records",
         true,
         {{"file", Type::string, true,
           [](const toml::node& v, const std::string&, ProjectReader& r) {
               r.Into.Records = r.Resolve(TextOf(v));
           }},
          {"tags", Type::table, false, TakeTags}}},
        {"station",
         true,
         {{"name", Type::string, true,
           [](const toml::node& v, const std::string&, ProjectReader& r) {
               r.Into.Station = TextOf(v);
           }},
          {"ports", Type::array, true, TakePorts},
          {"start", Type::string, false, TakeStart}}},
        {"line",
         false,
         {{"url", Type::string, true, TakeLineUrl},
          {"pool", Type::string, false,
           [](const toml::node& v, const std::string&, ProjectReader& r) {
               r.Line.Pool = TextOf(v);
           }}},
         FinishLine},
    };
    return tables;
}

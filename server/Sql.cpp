#include "server/Sql.h"

#include <charconv>

const std::string& SqlRow::Text(std::size_t column) const {
    const auto& value = columns_.at(column);
    if (!value) {
        throw SqlError(SqlFailure::Other, "column " + std::to_string(column) + " is NULL");
    }
    return *value;
}

std::int64_t SqlRow::Int(std::size_t column) const {
    const std::string& text = Text(column);
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        throw SqlError(SqlFailure::Other,
                       "column " + std::to_string(column) + " is not an integer: " + text);
    }
    return value;
}

std::optional<std::int64_t> SqlRow::MaybeInt(std::size_t column) const {
    if (IsNull(column)) {
        return std::nullopt;
    }
    return Int(column);
}

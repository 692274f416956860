#pragma once
// The line's page (server/web and the chart library) as built into tervix-line.

#include <string_view>
#include <vector>

struct WebFile {
    std::string_view Name;
    std::string_view ContentType;
    // Changes with the bytes, quotes included, as the header carries it.
    std::string_view ETag;
    std::string_view Body;
};

const std::vector<WebFile>& WebFiles();

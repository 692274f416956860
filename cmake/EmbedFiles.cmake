# cmake -DOUTPUT=FILE.cpp -DFILES="a|b|..." -P EmbedFiles.cmake: a C++ file that holds the files'
# bytes, each with its name, content type and an ETag made of its SHA-256 (see server/WebFiles.h).
string(REPLACE "|" ";" files "${FILES}")
set(types_html "text/html; charset=utf-8")
set(types_css "text/css; charset=utf-8")
set(types_js "text/javascript; charset=utf-8")
set(types_txt "text/plain; charset=utf-8")

set(arrays "")
set(entries "")
set(index 0)
foreach(file IN LISTS files)
    get_filename_component(name "${file}" NAME)
    string(REGEX MATCH "[^.]+$" extension "${name}")
    if(NOT DEFINED types_${extension})
        message(FATAL_ERROR "${file}: no content type known for .${extension}")
    endif()
    file(READ "${file}" hex HEX)
    file(SHA256 "${file}" digest)
    string(SUBSTRING "${digest}" 0 20 etag)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    # Lines of 32 bytes keep the file readable to tools that choke on very long lines.
    string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){32})" "\\1\n" bytes "${bytes}")
    string(APPEND arrays "constexpr unsigned char file${index}[] = {\n${bytes}};\n")
    string(APPEND entries "        {\"${name}\", \"${types_${extension}}\", \"\\\"${etag}\\\"\", "
                          "Bytes(file${index}, sizeof file${index})},\n")
    math(EXPR index "${index} + 1")
endforeach()

file(CONFIGURE OUTPUT "${OUTPUT}.new" @ONLY CONTENT [=[
// Made by cmake/EmbedFiles.cmake from server/web and the chart library: do not edit.
#include "server/WebFiles.h"

namespace {

std::string_view Bytes(const unsigned char* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

@arrays@
} // namespace

const std::vector<WebFile>& WebFiles() {
    static const std::vector<WebFile> files = {
@entries@    };
    return files;
}
]=])
# An unchanged file keeps its time, so that nothing is compiled again for nothing.
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")

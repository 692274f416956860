#include "server/WebPage.h"

#include "server/Refusal.h"
#include "server/WebFiles.h"

#include <algorithm>

namespace {

const WebFile* Find(std::string_view name) {
    const std::vector<WebFile>& files = WebFiles();
    const auto found = std::ranges::find(files, name, &WebFile::Name);
    return found == files.end() ? nullptr : &*found;
}

// If-None-Match may list several tags, or say "*".
bool Unchanged(const httplib::Request& request, std::string_view etag) {
    const std::string tags = request.get_header_value("If-None-Match");
    return tags == "*" || tags.find(etag) != std::string::npos;
}

} // namespace

void AddPage(httplib::Server& server) {
    server.Get(R"(/([A-Za-z0-9._-]*))", [](const httplib::Request& request,
                                           httplib::Response& response) {
        const std::string name = request.matches[1].str();
        const WebFile* file = Find(name.empty() ? "index.html" : name);
        if (file == nullptr) {
            response.status = HttpStatus::NotFound;
            return;
        }
        // The files change only with the program: a browser keeps them, and asks each time
        // whether they are still the same (a 304 without the body when they are).
        response.set_header("Cache-Control", "no-cache");
        response.set_header("ETag", std::string(file->ETag));
        response.set_header("X-Content-Type-Options", "nosniff");
        response.set_header("Content-Security-Policy",
                            "default-src 'self'; img-src 'self' data: blob:; object-src 'none'; "
                            "frame-ancestors 'none'");
        response.set_header("Referrer-Policy", "no-referrer");
        if (Unchanged(request, file->ETag)) {
            response.status = HttpStatus::NotModified;
            return;
        }
        response.set_content(file->Body.data(), file->Body.size(), std::string(file->ContentType));
    });
}

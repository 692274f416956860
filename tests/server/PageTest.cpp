// The line's page as the server gives it to a browser: the files built in, each with its content
// type, and a 304 for what the browser already has.

#include "tests/server/LineFixture.h"

#include <set>

namespace {

using PageTest = LineFixture;

struct PageFile {
    std::string path, type, mark;
};

} // namespace

TEST_P(PageTest, ServesEachFileWithItsTypeAndAnUnchangedOneAs304) {
    httplib::Client client("127.0.0.1", server_->Port());
    const std::vector<PageFile> files = {
        {"/", "text/html; charset=utf-8", "<script type=\"module\" src=\"page.js\">"},
        {"/index.html", "text/html; charset=utf-8", "<script type=\"module\" src=\"page.js\">"},
        {"/page.js", "text/javascript; charset=utf-8", "EventSource"},
        {"/line.js", "text/javascript; charset=utf-8", "export function"},
        {"/page.css", "text/css; charset=utf-8", ":root"},
        {"/uPlot.iife.min.js", "text/javascript; charset=utf-8", "uPlot"},
        {"/uPlot.min.css", "text/css; charset=utf-8", ".uplot"},
        {"/uPlot-LICENSE.txt", "text/plain; charset=utf-8", "MIT"},
    };
    std::set<std::string> etags;
    for (const PageFile& file : files) {
        // No token: the page asks for one itself, and the files hold nothing of the line.
        const httplib::Result got = client.Get(file.path);
        ASSERT_TRUE(got) << file.path;
        EXPECT_EQ(got->status, 200) << file.path;
        EXPECT_EQ(got->get_header_value("Content-Type"), file.type) << file.path;
        EXPECT_NE(got->body.find(file.mark), std::string::npos) << file.path;
        EXPECT_EQ(got->get_header_value("Cache-Control"), "no-cache") << file.path;
        EXPECT_EQ(got->get_header_value("X-Content-Type-Options"), "nosniff") << file.path;
        const std::string etag = got->get_header_value("ETag");
        ASSERT_FALSE(etag.empty()) << file.path;
        etags.insert(etag);

        const httplib::Result again = client.Get(file.path, {{"If-None-Match", etag}});
        ASSERT_TRUE(again) << file.path;
        EXPECT_EQ(again->status, 304) << file.path;
        EXPECT_TRUE(again->body.empty()) << file.path;
        const httplib::Result other = client.Get(file.path, {{"If-None-Match", "\"stale\""}});
        ASSERT_TRUE(other) << file.path;
        EXPECT_EQ(other->status, 200) << file.path;
    }
    // "/" is index.html; every other file has a tag of its own.
    EXPECT_EQ(etags.size(), files.size() - 1);
}

// The page reads the same API as everyone: an engine of its own would add nothing here.
INSTANTIATE_TEST_SUITE_P(Engines, PageTest, testing::Values("sqlite"),
                         [](const auto& engine) { return engine.param; });

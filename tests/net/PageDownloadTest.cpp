#include "FetchTestSupport.h"
#include "net/CPageFetcher.h"
#include "support/ScriptedHttpServer.h"
#include "support/TempDir.h"

#include <filesystem>

using Server = ScriptedHttpServer;

namespace {

class RecordingProgress
{
public:
    void operator()(const std::string& text) { texts.push_back(text); }
    std::vector<std::string> texts;
};

std::string Binary(std::size_t size)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + 1) % 256);
    return bytes;
}

} // namespace

using PageDownload = FetcherTest;

TEST_F(PageDownload, WritesTheBodyInBlocksAndReportsProgress)
{
    Server server;
    const struct
    {
        std::string name;
        std::string body;
        bool announce;
        std::vector<std::string> progress;
    } cases[] = {
        {"exactly 2048",
         Binary(2048),
         true,
         {"Downloading update ..", "Read 1024/2048 bytes", "Read 2048/2048 bytes",
          "Read 2048/2048 bytes"}},
        {"3000 without a length",
         Binary(3000),
         false,
         {"Downloading update ..", "Read 1024 bytes", "Read 2048 bytes", "Read 3000 bytes"}},
        {"one byte", "x", true, {"Downloading update ..", "Read 1/1 bytes"}},
    };
    for (const auto& c : cases) {
        const auto headers =
            c.announce
                ? std::vector<std::string>{"Content-Length: " + std::to_string(c.body.size())}
                : std::vector<std::string>{};
        server.SetResponse("/file", Server::Response(200, "OK", headers, c.body));
        TempDir dir;
        RecordingProgress progress;
        CPageFetcher fetcher;
        fetcher.Fetch(server.url("/file"), dir.file("NewUpdate.exe"), std::ref(progress));
        EXPECT_EQ(TempDir::ReadFile(dir.file("NewUpdate.exe")), c.body) << c.name;
        EXPECT_EQ(progress.texts, c.progress) << c.name;
    }
    EXPECT_EQ(PageTransfer::ProgressText(3072, 120000), "Read 3072/120000 bytes");
    EXPECT_EQ(PageTransfer::ProgressText(3072, 0), "Read 3072 bytes");
}

TEST_F(PageDownload, LeavesNoFileAfterAnyFailure)
{
    Server server;
    const std::string html = "<!doctype x><HtMl><body>error</body></html>";
    std::string nulHidesMarker = Binary(1024);
    nulHidesMarker.replace(10, 7, std::string("\0<html>", 7));
    std::string markerInSecondBlock = Binary(1500);
    std::replace(markerInSecondBlock.begin(), markerInSecondBlock.end(), '\0', 'a');
    markerInSecondBlock.replace(1200, 6, "<HTML>");
    const struct
    {
        std::string name;
        std::string answer;
        bool kept;
    } cases[] = {
        {"HTML page", Server::Response(200, "OK", {}, html), false},
        {"HTML in a later block", Server::Response(200, "OK", {}, markerInSecondBlock), false},
        {"NUL hides the marker", Server::Response(200, "OK", {}, nulHidesMarker), true},
        {"empty body", Server::Response(200, "OK", {"Content-Length: 0"}, ""), false},
        {"cut off mid-body", Server::Response(200, "OK", {"Content-Length: 5000"}, Binary(3000)),
         false},
        {"binary 404 page goes on as a body", Server::Response(404, "No", {}, "bin"), true},
    };
    for (const auto& c : cases) {
        server.SetResponse("/file", c.answer);
        TempDir dir;
        const std::string path = dir.file("NewUpdate.exe");
        TempDir::WriteFile(path, "stale file from before");
        CPageFetcher fetcher;
        fetcher.Fetch(server.url("/file"), path, nullptr);
        EXPECT_EQ(std::filesystem::exists(path), c.kept) << c.name;
    }
    {
        SCOPED_TRACE("refused connection and a folder that cannot hold the file");
        TempDir dir;
        const std::string path = dir.file("NewUpdate.exe");
        TempDir::WriteFile(path, "stale");
        CPageFetcher fetcher;
        fetcher.Fetch("http://127.0.0.1:1/file", path, nullptr);
        EXPECT_FALSE(std::filesystem::exists(path));
        server.SetResponse("/file", Server::Response(200, "OK", {}, "data"));
        fetcher.Fetch(server.url("/file"), dir.file("no/such/folder/x"), nullptr);
        EXPECT_FALSE(std::filesystem::exists(dir.file("no/such/folder/x")));
    }
}

TEST_F(PageDownload, LeavesThePageListAsItWas)
{
    Server server;
    server.SetResponse("/page", Server::Response(200, "OK", {}, "page\n"));
    server.SetResponse("/file", Server::Response(200, "OK", {}, "data"));
    TempDir dir;
    CPageFetcher fetcher;
    fetcher.Fetch(server.url("/page"), "", nullptr);
    fetcher.Fetch(server.url("/file"), dir.file("f"), nullptr);
    const auto lines = fetcher.Pieces();
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.end()),
              std::vector<std::string>{"page\n"});
    EXPECT_EQ(TempDir::ReadFile(dir.file("f")), "data");
}

#include "FetchTestSupport.h"
#include "net/CPageFetcher.h"
#include "net/CredentialsPrompt.h"
#include "support/ScriptedHttpServer.h"
#include "support/TempDir.h"

#include <cstdlib>

using Server = ScriptedHttpServer;

namespace {

std::string Ok(const std::string& body, const std::vector<std::string>& headers = {})
{
    return Server::Response(200, "OK", headers, body);
}

// The request line and header lines of a raw request, one per element.
std::vector<std::string> Lines(const std::string& request)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (auto end = request.find("\r\n"); end != std::string::npos && end != start;
         end = request.find("\r\n", start)) {
        lines.push_back(request.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

// What libcurl offers for a page: every compression it can undo.
const std::string kEncodings = "Accept-Encoding: deflate, gzip, br, zstd";
const std::string kAgent =
    "User-Agent: Mozilla/4.0 (compatible; Kestrelle/1.0; zelto; " KESTRELLE_MAKER_URL ")";

} // namespace

using PageFetcher = FetcherTest;

TEST_F(PageFetcher, AddressesWithAndWithoutSchemeReachTheServerOrNothing)
{
    Server server;
    server.SetResponse("/status", Ok("up\n"));
    server.SetResponse("/a%20b?q=x%20y", Ok("spaces\n"));
    const std::string hostPort = "127.0.0.1:" + std::to_string(server.port());
    const struct
    {
        std::string address;
        std::string text;
    } cases[] = {
        {hostPort + "/status", "up\n"},
        {"http://" + hostPort + "/status", "up\n"},
        {"http://" + hostPort + "/a b?q=x y", "spaces\n"},
        {hostPort + "/go?to=http://x", ""},
        {"HTTP://" + hostPort + "/status", "up\n"},
        {"  Http://" + hostPort + "/status\t", "up\n"},
        {"http://127.0.0.1:1/refused", ""},
    };
    for (const auto& c : cases) {
        CPageFetcher fetcher;
        fetcher.Fetch(c.address, "", nullptr);
        EXPECT_EQ(fetcher.GetText(), c.text) << c.address;
    }
    EXPECT_EQ(server.RequestCount(), 5u);
}

TEST_F(PageFetcher, SendsTheProgramsRequestLinesOverHttp11WithoutAProxy)
{
    Server server;
    Server proxy; // the environment names it; it must never be asked
    server.SetResponse("/p?x=1", Ok("x"));
    server.SetResponse("/file", Ok("data"));
    const std::string proxyUrl = proxy.url("");
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "ALL_PROXY", "all_proxy"})
        setenv(name, proxyUrl.c_str(), 1);
    unsetenv("no_proxy");
    unsetenv("NO_PROXY");

    CPageFetcher fetcher;
    fetcher.Fetch(server.url("/p?x=1#frag"), "", nullptr);
    TempDir dir;
    fetcher.Fetch(server.url("/file"), dir.file("f.bin"), nullptr);
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "ALL_PROXY", "all_proxy"})
        unsetenv(name);

    EXPECT_EQ(proxy.RequestCount(), 0u);
    ASSERT_EQ(server.RequestCount(), 2u);
    const std::string host = "Host: 127.0.0.1:" + std::to_string(server.port());
    EXPECT_EQ(Lines(server.Requests()[0]),
              (std::vector<std::string>{"GET /p?x=1 HTTP/1.1", host, kEncodings, "Accept: text/*",
                                        kAgent}));
    EXPECT_EQ(Lines(server.Requests()[1]),
              (std::vector<std::string>{"GET /file HTTP/1.1", host, kAgent}));
    EXPECT_EQ(PageTransfer::PageHeaderBlock(), "Accept: text/*\r\n" + kAgent + "\r\n");
    EXPECT_EQ(PageTransfer::DownloadHeaderBlock(), kAgent + "\r\n");
}

TEST_F(PageFetcher, DeliversPiecesThatJoinToTheBodyWithoutCr)
{
    Server server;
    const struct
    {
        std::string body;
        std::vector<std::string> pieces;
    } cases[] = {
        {"a\r\nb\r\n", {"a\n", "b\n"}},
        {"x\ry", {"xy"}},
        {std::string("one\0hidden\ntwo", 14), {"one", "two"}},
        {std::string(3000, 'c'),
         {std::string(1022, 'c'), std::string(1022, 'c'), std::string(956, 'c')}},
        {"", {}},
    };
    CPageFetcher fetcher;
    for (const auto& c : cases) {
        server.SetResponse("/page", Ok(c.body));
        fetcher.Fetch(server.url("/page"), "", nullptr);
        const auto lines = fetcher.Pieces();
        EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.end()), c.pieces);
        std::string joined;
        for (const auto& piece : c.pieces)
            joined += piece;
        EXPECT_EQ(fetcher.GetText(), joined);
    }
}

TEST_F(PageFetcher, ErrorPagesAndCutOffBodiesAreDeliveredAsPages)
{
    Server server;
    server.SetResponse("/404", Server::Response(404, "Not Found", {}, "gone\n"));
    server.SetResponse("/500", Server::Response(500, "Oops", {}, "broken\n"));
    server.SetResponse("/cut",
                       Server::Response(200, "OK", {"Content-Length: 1000"}, "partial\nli"));
    Server::Script reset = Server::Bytes(Server::Response(200, "OK", {}, "before\n"));
    reset.steps[0].pauseAfter = std::chrono::milliseconds(50);
    reset.reset = true;
    server.SetScript("/reset", reset);
    const struct
    {
        const char* path;
        const char* text;
    } cases[] = {
        {"/404", "gone\n"}, {"/500", "broken\n"}, {"/cut", "partial\nli"}, {"/reset", "before\n"}};
    for (const auto& c : cases) {
        CPageFetcher fetcher;
        fetcher.Fetch(server.url(c.path), "", nullptr);
        EXPECT_EQ(fetcher.GetText(), c.text) << c.path;
    }
}

TEST_F(PageFetcher, FollowsRedirectsByTheLocationHeader)
{
    Server server;
    Server other;
    other.SetResponse("/new", Ok("other site\n"));
    server.SetResponse("/new", Ok("new page\n"));
    server.SetResponse("/dir/rel", Ok("relative\n"));
    server.SetResponse("/again", Server::Response(302, "Found", {"Location: /new"}, ""));
    server.SetResponse("/denied", Server::Response(401, "No", {}, "no\n"));
    server.SetResponse("/missing", Server::Response(404, "Not Found", {}, "missing\n"));
    const std::string otherNew = other.url("/new");
    const struct
    {
        int status;
        std::vector<std::string> headers;
        std::string text;
    } cases[] = {
        {301, {"Location: " + otherNew}, "other site\n"},
        {302, {"location:   /new  "}, "new page\n"},
        {303, {"Location: rel"}, "relative\n"},
        {302, {"Content-Location: /dir/rel", "Location: " + otherNew}, "other site\n"},
        {302, {"Content-Location: /dir/rel"}, ""},
        {302, {"Location: /again"}, "new page\n"}, // a chain is followed
        {302, {"Location: /denied"}, "no\n"},      // an error page is kept
        {302, {"Location: /missing"}, "missing\n"},
        {302, {"Location: ftp://127.0.0.1/x"}, ""},
        {307, {"Location: /new"}, "new page\n"},
        {308, {"Location: /new"}, "new page\n"},
    };
    for (const auto& c : cases) {
        server.SetResponse("/dir/start", Server::Response(c.status, "Moved", c.headers, "moved\n"));
        CPageFetcher fetcher;
        fetcher.Fetch(server.url("/dir/start"), "", nullptr);
        EXPECT_EQ(fetcher.GetText(), c.text) << c.status << " " << c.headers.back();
    }
}

namespace {

class RecordingPrompt : public CredentialsPrompt
{
public:
    explicit RecordingPrompt(std::optional<Credentials> answer) : m_answer(std::move(answer)) {}
    std::optional<Credentials> Ask(const std::string& address, const std::string& head) override
    {
        ++asked;
        lastAddress = address;
        lastHead = head;
        return m_answer;
    }
    int asked = 0;
    std::string lastAddress;
    std::string lastHead;

private:
    std::optional<Credentials> m_answer;
};

} // namespace

TEST_F(PageFetcher, AsksForCredentialsOnceAfter401AndSendsTheRequestOnceMore)
{
    Server server;
    server.SetHandler("/secret", [](const std::string& request) {
        // "user:pass" in base64
        if (request.find("Authorization: Basic dXNlcjpwYXNz\r\n") != std::string::npos)
            return Server::Bytes(Ok("welcome\n"));
        return Server::Bytes(Server::Response(401, "Unauthorized",
                                              {"WWW-Authenticate: Basic realm=\"r\""}, "denied\n"));
    });

    {
        SCOPED_TRACE("no prompt installed: sent once more without credentials");
        server.ClearRequests();
        CPageFetcher fetcher;
        fetcher.Fetch(server.url("/secret"), "", nullptr);
        EXPECT_EQ(fetcher.GetText(), "denied\n"); // a second 401 is an ordinary page
        EXPECT_EQ(server.RequestCount(), 2u);
    }
    {
        SCOPED_TRACE("prompt answers with credentials");
        server.ClearRequests();
        auto prompt =
            std::make_shared<RecordingPrompt>(CredentialsPrompt::Credentials{"user", "pass"});
        FetchSettings::SetCredentialsPrompt(prompt);
        CPageFetcher fetcher;
        fetcher.Fetch(server.url("/secret"), "", nullptr);
        EXPECT_EQ(fetcher.GetText(), "welcome\n");
        EXPECT_EQ(prompt->asked, 1);
        EXPECT_EQ(prompt->lastAddress, server.url("/secret"));
        EXPECT_NE(prompt->lastHead.find("WWW-Authenticate: Basic realm=\"r\""), std::string::npos);
        EXPECT_EQ(server.RequestCount(), 2u);
    }
    {
        SCOPED_TRACE("wrong credentials: asked once, no loop");
        server.ClearRequests();
        auto prompt =
            std::make_shared<RecordingPrompt>(CredentialsPrompt::Credentials{"user", "wrong"});
        FetchSettings::SetCredentialsPrompt(prompt);
        CPageFetcher fetcher;
        fetcher.Fetch(server.url("/secret"), "", nullptr);
        EXPECT_EQ(fetcher.GetText(), "denied\n");
        EXPECT_EQ(prompt->asked, 1);
        EXPECT_EQ(server.RequestCount(), 2u);
    }
}

TEST_F(PageFetcher, SaysSoWhenNoSessionCanBeMade)
{
    Server server;
    server.SetResponse("/p", Ok("x"));
    FetchSettings::SetSessionFailureForTests(true);
    CPageFetcher fetcher;
    fetcher.Fetch(server.url("/p"), "", nullptr);
    const auto lines = fetcher.Pieces();
    EXPECT_TRUE(lines.empty());
    EXPECT_EQ(Messages(), std::vector<std::string>{"Cannot open internet connection."});
    EXPECT_EQ(server.RequestCount(), 0u);
}

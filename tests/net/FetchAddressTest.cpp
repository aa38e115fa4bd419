#include "net/FetchAddress.h"

#include <gtest/gtest.h>

TEST(FetchAddress, PrefixesHttpUnlessASchemeTextOccursAnywhereInAnyCase)
{
    const struct
    {
        const char* given;
        const char* full;
    } cases[] = {
        {"server/status", "http://server/status"},
        {"http://server/", "http://server/"},
        {"https://server/", "https://server/"},
        {"server/go?to=http://x", "server/go?to=http://x"},
        {"server/go?to=HTTP://x", "server/go?to=HTTP://x"},
        {"HTTP://server/", "HTTP://server/"},
        {"HttpS://server/", "HttpS://server/"},
        {"  http://server/ \t", "http://server/"},
        {" server/status ", "http://server/status"},
        {"", "http://"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FetchAddress::FullAddress(c.given), c.full) << c.given;
}

TEST(FetchAddress, CanonicalizesUnsafeCharactersBeforeTheQueryOnly)
{
    const struct
    {
        const char* given;
        const char* canonical;
    } cases[] = {
        {"http://s/a b/c", "http://s/a%20b/c"},
        {"http://s/<x>\"{|}^`\\", "http://s/%3Cx%3E%22%7B%7C%7D%5E%60%5C"},
        {"http://s/\xC3\xA9", "http://s/%C3%A9"},
        {"http://s/p?q=a b&r=<x>", "http://s/p?q=a%20b&r=<x>"},
        {"http://s/p#frag ment", "http://s/p#frag%20ment"},
        {"http://s/p?q=a\tb+c", "http://s/p?q=a%09b+c"},
        {"http://s/already%20encoded", "http://s/already%20encoded"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FetchAddress::Canonicalize(c.given), c.canonical) << c.given;
}

TEST(FetchAddress, SplitsIntoServerPortAndObjectPath)
{
    const struct
    {
        const char* address;
        bool ok;
        const char* server;
        int port;
        const char* path;
    } cases[] = {
        {"http://server/status", true, "server", 80, "/status"},
        {"https://server/", true, "server", 443, "/"},
        {"HTTPS://Server", true, "Server", 443, "/"},
        {"http://127.0.0.1:8080/a?b=c#d", true, "127.0.0.1", 8080, "/a?b=c"},
        {"http://user:pw@host:81/x", true, "host", 81, "/x"},
        {"http://[::1]:82/y", true, "[::1]", 82, "/y"},
        {"http://host?q", true, "host", 80, "/?q"},
        {"server/go?to=http://x", false, "", 0, ""},
        {"http://HTTP://server/", false, "", 0, ""},
        {"ftp://server/", false, "", 0, ""},
        {"http:///path", false, "", 0, ""},
        {"http://host:0/", false, "", 0, ""},
        {"http://host:65536/", false, "", 0, ""},
        {"http://host:8a/", false, "", 0, ""},
        {"/new/page", false, "", 0, ""},
    };
    for (const auto& c : cases) {
        const auto parts = FetchAddress::Split(c.address);
        ASSERT_EQ(parts.has_value(), c.ok) << c.address;
        if (!parts)
            continue;
        EXPECT_EQ(parts->server, c.server) << c.address;
        EXPECT_EQ(parts->port, c.port) << c.address;
        EXPECT_EQ(parts->objectPath, c.path) << c.address;
    }
}

TEST(FetchAddress, ResolvesLocationAgainstTheRequestedAddress)
{
    const auto base = *FetchAddress::Split("http://site:8080/dir/page.htm?x=1");
    const struct
    {
        const char* location;
        const char* resolved;
    } cases[] = {
        {"http://other/new", "http://other/new"},
        {"https://other/new", "https://other/new"},
        {"//other/new", "http://other/new"},
        {"/new/page", "http://site:8080/new/page"},
        {"new/page", "http://site:8080/dir/new/page"},
        {"../up", "http://site:8080/up"},
        {"./same?y=2", "http://site:8080/dir/same?y=2"},
        {"?y=2", "http://site:8080/dir/page.htm?y=2"},
        {"/a b", "http://site:8080/a%20b"},
        {"ftp://other/file", "ftp://other/file"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FetchAddress::Resolve(base, c.location), c.resolved) << c.location;
}

TEST(FetchAddress, FindsTheLocationFieldAsAHeader)
{
    const struct
    {
        const char* head;
        const char* location; // nullptr: none
    } cases[] = {
        {"HTTP/1.0 302 Found\r\nLocation: http://s/new\r\n\r\n", "http://s/new"},
        {"HTTP/1.0 302 Found\r\nlocation:/rel  \t\r\n\r\n", "/rel"},
        {"HTTP/1.0 302 Found\r\nLOCATION:   x\r\n\r\n", "x"},
        {"HTTP/1.0 302 Found\r\nContent-Location: /cl\r\nLocation: /real\r\n\r\n", "/real"},
        {"HTTP/1.0 302 Found\r\nContent-Location: /cl\r\n\r\n", nullptr},
        {"HTTP/1.0 302 Found\r\nX-Note: Location: /no\r\n\r\n", nullptr},
        {"HTTP/1.0 302 Found\r\n Location: /folded\r\n\r\n", nullptr},
        {"HTTP/1.0 302 Found\r\nLocation: \r\n\r\n", nullptr},
        {"HTTP/1.0 302 Found\nLocation: /lf-only\n\n", "/lf-only"},
    };
    for (const auto& c : cases) {
        const auto found = FetchAddress::FindLocation(c.head);
        if (c.location == nullptr)
            EXPECT_FALSE(found.has_value()) << c.head;
        else
            EXPECT_EQ(found.value_or("<none>"), c.location) << c.head;
    }
}

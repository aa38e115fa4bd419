#include "FetchTestSupport.h"
#include "net/CPageFetcher.h"
#include "support/ScriptedHttpServer.h"
#include "support/TempDir.h"
#include "support/TlsFront.h"

using Server = ScriptedHttpServer;
using HttpsFetch = FetcherTest;

TEST_F(HttpsFetch, VerifiesTheServerCertificate)
{
    TempDir dir;
    TlsFront::Certificates certs;
    ASSERT_TRUE(TlsFront::MakeCertificates(dir.path(), certs));
    Server server;
    server.SetResponse("/secure", Server::Response(200, "OK", {}, "secure page\n"));
    TlsFront trusted(certs.signedCert, certs.signedKey, server.port());
    TlsFront selfSigned(certs.selfCert, certs.selfKey, server.port());
    ASSERT_TRUE(trusted.running());
    ASSERT_TRUE(selfSigned.running());

    const struct
    {
        std::string name;
        std::string caFile;
        std::string address;
        std::string text;
    } cases[] = {
        {"test CA trusted", certs.caFile, trusted.url("/secure"), "secure page\n"},
        {"system CAs only", "", trusted.url("/secure"), ""},
        {"self-signed, not trusted", certs.caFile, selfSigned.url("/secure"), ""},
        // The certificate names 127.0.0.1 and localhost, not this address.
        {"wrong host name", certs.caFile,
         "https://127.0.0.2:" + std::to_string(trusted.port()) + "/secure", ""},
    };
    for (const auto& c : cases) {
        FetchSettings::SetCaFileForTests(c.caFile);
        CPageFetcher fetcher;
        fetcher.Fetch(c.address, "", nullptr);
        EXPECT_EQ(fetcher.GetText(), c.text) << c.name;
    }

    SCOPED_TRACE("a redirect to https is followed, certificate checked");
    FetchSettings::SetCaFileForTests(certs.caFile);
    server.SetResponse("/moved",
                       Server::Response(302, "Found", {"Location: " + trusted.url("/secure")}, ""));
    CPageFetcher fetcher;
    fetcher.Fetch(server.url("/moved"), "", nullptr);
    EXPECT_EQ(fetcher.GetText(), "secure page\n");
}

// The server certificate's end comes with the page, also when the answer
// came on a connection kept from an earlier request, whose handshake was
// the only one that showed the certificate.
TEST_F(HttpsFetch, TellsWhenTheServerCertificateExpires)
{
    TempDir dir;
    TlsFront::Certificates certs;
    ASSERT_TRUE(TlsFront::MakeCertificates(dir.path(), certs));
    const std::string cert = dir.path() + "/five.pem", key = dir.path() + "/five.key";
    ASSERT_TRUE(TlsFront::MakeSigned(dir.path(), 5, cert, key));
    Server server;
    server.SetResponse("/page", Server::Response(200, "OK", {}, "page\n"));
    TlsFront front(cert, key, server.port());
    ASSERT_TRUE(front.running());
    server.SetResponse("/moved", Server::Response(302, "Found", {"Location: /page"}, ""));
    FetchSettings::SetCaFileForTests(certs.caFile);

    const std::time_t now = std::time(nullptr);
    for (const char* path : {"/page", "/moved"}) {
        CPageFetcher fetcher;
        fetcher.Fetch(front.url(path), "", nullptr);
        EXPECT_EQ(fetcher.GetText(), "page\n") << path;
        EXPECT_NEAR(double(fetcher.Outcome().certificateExpiry), double(now + 5 * 86400), 120)
            << path;
    }
    CPageFetcher plain;
    plain.Fetch(server.url("/page"), "", nullptr);
    EXPECT_EQ(plain.Outcome().certificateExpiry, 0);
}

#include "net/CSmtpClient.h"
#include "platform/Clock.h"

#include <gtest/gtest.h>

#include <clocale>

namespace {

// 8 December 2026, 14:05:09 UTC, a Tuesday.
constexpr std::time_t kTuesdayAfternoon = 1796738709;

const std::string kMime = "MIME-Version: 1.0\r\nContent-type: text/plain; charset=US-ASCII\r\n";

class SmtpClientHeader : public ::testing::Test
{
protected:
    void SetUp() override { Clock::SetFixedForTests(kTuesdayAfternoon); }
    void TearDown() override { Clock::SetFixedForTests(0); }
};

TEST_F(SmtpClientHeader, LinesInOrderEachOnlyWhenSet)
{
    const std::string date = "DATE: Tue, 08 Dec 2026 14:05:09 PM\r\n";
    struct Case
    {
        const char* what;
        bool name, subject, extras;
        std::string expected;
    };
    const Case cases[] = {
        {"alert as the program sends it", true, true, false,
         date +
             "From: \"Kestrelle\" <watch@kestrelle.test>\r\nTo: <ops@example.test>\r\nCc: \r\n"
             "Subject: shop.test may be down\r\n" +
             kMime + "\r\n"},
        {"no sender name, no subject", false, false, false,
         date + "To: <ops@example.test>\r\nCc: \r\n" + kMime + "\r\n"},
        {"X-Mailer and Reply-To after Subject", true, true, true,
         date +
             "From: \"Kestrelle\" <watch@kestrelle.test>\r\nTo: <ops@example.test>\r\nCc: \r\n"
             "Subject: shop.test may be down\r\nX-Mailer: Kestrelle\r\n"
             "Reply-To: admin@example.test\r\n" +
             kMime + "\r\n"},
    };
    for (const Case& c : cases) {
        CSmtpClient mail;
        mail.SetSenderEmail("watch@kestrelle.test");
        if (c.name)
            mail.SetSenderName("Kestrelle");
        if (c.subject)
            mail.SetSubject("shop.test may be down");
        if (c.extras) {
            mail.SetXMailer("Kestrelle");
            mail.SetReplyTo("admin@example.test");
        }
        mail.AddRecipient("ops@example.test", "");
        EXPECT_EQ(mail.FormatHeader().value_or("<none>"), c.expected) << c.what;
    }
}

TEST_F(SmtpClientHeader, DateIsEnglishUtcWhateverTheProcessLocale)
{
    const char* german = std::setlocale(LC_ALL, "de_DE.UTF-8");
    setenv("TZ", "Asia/Tokyo", 1);
    tzset();
    CSmtpClient mail;
    mail.AddRecipient("ops@example.test", "");
    const std::string header = mail.FormatHeader().value_or("");
    EXPECT_EQ(header.substr(0, header.find("\r\n") + 2), "DATE: Tue, 08 Dec 2026 14:05:09 PM\r\n");
    setenv("TZ", "UTC", 1);
    tzset();
    if (german)
        std::setlocale(LC_ALL, "C");
}

TEST_F(SmtpClientHeader, RecipientTextsJoinedWithoutSpaceAndBccNowhere)
{
    CSmtpClient mail;
    EXPECT_FALSE(mail.AddRecipient("", "Nobody"));
    EXPECT_TRUE(mail.AddRecipient("a@example.test", ""));
    EXPECT_TRUE(mail.AddRecipient("b@example.test", "Bea "));
    EXPECT_TRUE(mail.AddCcRecipient("c@example.test", "Cy"));
    EXPECT_TRUE(mail.AddCcRecipient("d@example.test", ""));
    EXPECT_TRUE(mail.AddBccRecipient("hidden@example.test", "Hidden"));
    const std::string header = mail.FormatHeader().value_or("");
    EXPECT_NE(header.find("\r\nTo: <a@example.test>,Bea <b@example.test>\r\n"), std::string::npos);
    EXPECT_NE(header.find("\r\nCc: Cy<c@example.test>,<d@example.test>\r\n"), std::string::npos);
    EXPECT_EQ(header.find("hidden"), std::string::npos);
}

TEST(MailRecipient, TextAndRcptAddress)
{
    const struct
    {
        const char* address;
        const char* name;
        const char* text;
    } cases[] = {
        {"ops@example.test", "", "<ops@example.test>"},
        {"ops@example.test", "Ops Team", "Ops Team<ops@example.test>"},
        {"ops@example.test", "a <b", "a <b<ops@example.test>"},
    };
    for (const auto& c : cases) {
        const CMailRecipient r(c.address, c.name);
        EXPECT_EQ(r.Text(), c.text);
        EXPECT_EQ(r.Address(), c.address) << c.text;
    }
}

TEST_F(SmtpClientHeader, NoHeaderWithoutRecipientOrBeyondTheBound)
{
    testing::internal::CaptureStderr();
    CSmtpClient none;
    EXPECT_FALSE(none.FormatHeader().has_value());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Please add a message recipient!\r\n");

    // Find the subject length that makes the block exactly as long as allowed.
    CSmtpClient mail;
    mail.AddRecipient("ops@example.test", "");
    mail.SetSubject("");
    const size_t base = mail.FormatHeader().value_or("").size();
    const size_t fits = CSmtpClient::kMaxHeaderLength - base;
    mail.SetSubject(std::string(fits, 's'));
    ASSERT_TRUE(mail.FormatHeader().has_value());
    EXPECT_EQ(mail.FormatHeader()->size(), CSmtpClient::kMaxHeaderLength);
    mail.SetSubject(std::string(fits + 1, 's'));
    EXPECT_FALSE(mail.FormatHeader().has_value());
}

TEST(SmtpClientReplies, JudgedByTheLastThreeCharacterCode)
{
    const struct
    {
        const char* text;
        bool error;
    } cases[] = {
        {"250 OK", false},
        {"550 5.1.1 User unknown", true},
        {"250 2.0.0 Ok: queued as 12345", false},
        {"250 Accepted 404", true},
        {"334 VXNlcm5hbWU6", false},
        {"502 5.5.2 Command not recognized", true},
        {"354 End data with <CR><LF>.<CR><LF>", false},
        {"", false},
        {"no code at all", false},
        {"220 hello\r\n250 ok\r\n550 no\r\n", true},
        {"550 no\r\n250 ok\r\n", false},
        {"550 no\r\n250 Ok: 099", false}, // 099 is below 100 and does not count
        {"400", true},
        {"399 x", false},
        {"250-multi\r\n250 ok", false},
        {"4xx Mailbox full", false}, // atoi reads 4
        {"421\r\n", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CSmtpClient::IsErrorReply(c.text), c.error) << c.text;
}

} // namespace

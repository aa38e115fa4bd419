#include "monitor/DataFile.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>

namespace {

using Fields = std::array<std::string, SiteEntry::kColumnCount>;

SiteEntry Entry(const Fields& fields, int mark = 0)
{
    SiteEntry e;
    e.fields = fields;
    e.mark = mark;
    return e;
}

std::vector<Fields> Rows(const SiteList& list)
{
    std::vector<Fields> rows;
    list.ForEach([&rows](int, const SiteEntry& e) { rows.push_back(e.fields); });
    return rows;
}

std::vector<int> Marks(const SiteList& list)
{
    std::vector<int> marks;
    list.ForEach([&marks](int, const SiteEntry& e) { marks.push_back(e.mark); });
    return marks;
}

void Fill(SiteList& list, const std::vector<Fields>& rows)
{
    for (const auto& r : rows)
        list.Append(Entry(r));
}

std::vector<Fields> Load(const std::string& path)
{
    SiteList list;
    EXPECT_TRUE(DataFile::LoadSites(list, path));
    return Rows(list);
}

std::vector<Fields> LoadBytes(const TempDir& dir, const std::string& bytes)
{
    // A fresh file each time: rewriting one in place makes ext4 wait for the disk.
    static int serial = 0;
    const std::string path = dir.file("load-" + std::to_string(++serial) + ".dat");
    TempDir::WriteFile(path, bytes);
    auto rows = Load(path);
    std::filesystem::remove(path);
    return rows;
}

std::vector<Fields> RoundTrip(const TempDir& dir, const std::vector<Fields>& rows)
{
    SiteList list;
    Fill(list, rows);
    EXPECT_TRUE(DataFile::SaveSites(list, dir.file("kestrelle.dat")));
    return Load(dir.file("kestrelle.dat"));
}

// Rows compared field by field, naming the first difference only: a diff
// of two pages of 100,000 lines would take the printer forever.
testing::AssertionResult SameRows(const std::vector<Fields>& actual,
                                  const std::vector<Fields>& expected)
{
    if (actual.size() != expected.size())
        return testing::AssertionFailure()
               << actual.size() << " rows instead of " << expected.size();
    for (size_t r = 0; r < actual.size(); ++r) {
        for (size_t c = 0; c < actual[r].size(); ++c) {
            const std::string& a = actual[r][c];
            const std::string& e = expected[r][c];
            if (a == e)
                continue;
            const auto at = std::mismatch(a.begin(), a.end(), e.begin(), e.end()).first - a.begin();
            return testing::AssertionFailure()
                   << "row " << r << " column " << c << ": " << a.size() << " bytes instead of "
                   << e.size() << ", first difference at " << at;
        }
    }
    return testing::AssertionSuccess();
}

std::vector<std::string> FolderNames(const std::string& dir)
{
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

int LineCount(const std::string& text)
{
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

std::string Golden()
{
    return TempDir::ReadFile(std::string(KESTRELLE_TEST_DATA_DIR) + "/kestrelle-golden.dat");
}

// The list the golden file was written from, by hand, line by line.
const std::vector<Fields> kGoldenList = {
    {"http://www.example.com/", "OK", "03/14/2024 09:26:53 AM", "<title>Example</title>",
     "<html>\n<head><title>Example</title></head>\n<body>Hello &amp; welcome</body>\n</html>\n",
     "alerts@example.com"},
    {"x", "OK", "-", "one-character URLs are not kept", "-", ""},
    {"https://shop.example.org/status?check=1&x=%20", "CHECKING", "12/31/2023 11:59:59 PM",
     "All systems go", "", "a@b"},
    {"http://new.example.net/", "-", "-", "Welcome", "-", ""},
    {"http://down.example.com/", "ERROR", "01/02/2024 03:04:05 PM", "OK!", "Service Unavailable",
     "ops@example.com"},
};

TEST(DataFile, GoldenFileIsWhatTheListSaves)
{
    TempDir dir;
    SiteList list;
    Fill(list, kGoldenList);
    list.SetMark(4, SiteEntry::kErrorMark);
    ASSERT_TRUE(DataFile::SaveSites(list, dir.file("kestrelle.dat")));
    EXPECT_EQ(TempDir::ReadFile(dir.file("kestrelle.dat")), Golden());
}

TEST(DataFile, GoldenFileLoadsAsTheListWithoutItsQuirks)
{
    std::vector<Fields> expected = kGoldenList;
    expected.erase(expected.begin() + 1);      // one-character URL: never written
    expected[1][SiteEntry::EmailAddress] = ""; // three characters: blank once loaded
    SiteList list;
    ASSERT_TRUE(
        DataFile::LoadSites(list, std::string(KESTRELLE_TEST_DATA_DIR) + "/kestrelle-golden.dat"));
    EXPECT_EQ(Rows(list), expected);
    EXPECT_EQ(Marks(list), std::vector<int>(expected.size(), 0)); // "ERROR" comes back unmarked
}

TEST(DataFile, RoundTripsKeepEveryField)
{
    std::string allBytes; // every byte but the line feed, CR and NUL included
    for (int c = 0; c < 256; ++c)
        if (c != '\n')
            allBytes.push_back(static_cast<char>(c));
    const std::string piece(DataFile::kPieceLength, 'p');
    const struct
    {
        const char* name;
        Fields fields;
    } cases[] = {
        {"all bytes", {"u" + allBytes, allBytes, allBytes, allBytes, allBytes, allBytes}},
        {"empty fields", {"ab", "", "", "", "", ""}},
        {"CR at the ends", {"\rurl\r", "\r", "x\r", "\r\r", "\r\n\r", "m@x.test\r"}},
        {"60,000 characters, no line feed", {"ab", "OK", "-", "s", std::string(60000, 'z'), ""}},
        {"lines at the piece length",
         {"ab", "OK", "-", "s",
          piece + "\n" + piece.substr(1) + "\n" + piece + "q\n" + piece + piece + "\n\n" + piece,
          ""}},
        {"CR LF lines at the piece length",
         {"ab", "OK", "-", "s", piece + "\r\n" + piece.substr(1) + "\r\n" + piece + "\r", ""}},
        {"line feeds at the edges", {"ab", "OK", "-", "s", "\n\nmiddle\n\n", ""}},
        {"marker look-alikes",
         {"ab", "OK", "-", "s", "BEGIN RESPONSE\nEND RESPONSE \nEND RESPONSE\r\n end response",
          ""}},
        {"long fields", {"http://" + piece + piece, piece + "s", piece, piece + piece, "", piece}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::vector<Fields> rows = {c.fields, {"second", "OK", "-", "t", "r", "e@x.test"}};
        EXPECT_TRUE(SameRows(RoundTrip(dir, rows), rows));
    }
}

TEST(DataFile, ReadBufferEdgesLoseNothing)
{
    // Responses full of line ends: whatever the URL's length, some CR lands
    // on the last byte of one read and its LF (or not) on the next.
    std::string crlf;
    for (int i = 0; i < 200000; ++i)
        crlf += "\r\n";
    const std::string responses[] = {std::string(300000, '\n'), std::string(600000, '\r'), crlf,
                                     std::string(700000, 'w')};
    for (const auto& response : responses) {
        for (const char* url : {"http://a/", "http://ab/", "http://abc/"}) {
            TempDir dir;
            const std::vector<Fields> rows = {{url, "OK", "-", "s", response, "tail@x.test"}};
            EXPECT_TRUE(SameRows(RoundTrip(dir, rows), rows)) << url;
        }
    }
}

TEST(DataFile, LengthRulesOfUrlAndEmail)
{
    TempDir dir;
    SiteList list;
    Fill(list, {{"", "OK", "-", "s", "-", "gone@x.test"},
                {"x", "OK", "-", "s", "-", "gone@x.test"},
                {"\xC3\xA9", "OK", "-", "s", "-", "gone@x.test"}, // one character, two bytes
                {"ab", "OK", "-", "s", "-", "a"},
                {"ac", "OK", "-", "s", "-", "abc"},
                {"ad", "OK", "-", "s", "-",
                 "\xC3\xA4"
                 "bc"},
                {"ae", "OK", "-", "s", "-", "abcd"}});
    ASSERT_TRUE(DataFile::SaveSites(list, dir.file("kestrelle.dat")));
    const std::string bytes = TempDir::ReadFile(dir.file("kestrelle.dat"));
    EXPECT_EQ(bytes.find("gone"), std::string::npos);
    EXPECT_NE(bytes.find("\r\nabc\r\n"), std::string::npos); // short addresses are still written
    const auto rows = Load(dir.file("kestrelle.dat"));
    ASSERT_EQ(rows.size(), 4u);
    const char* emails[] = {"", "", "", "abcd"};
    for (size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ(rows[i][SiteEntry::EmailAddress], emails[i]) << i;
}

TEST(DataFile, LoadingReadsTheRecordLayout)
{
    const Fields a = {"http://a.test/", "OK", "t1", "s1", "line1\nline2", "a@a.test"};
    const Fields b = {"http://b.test/", "ERROR", "t2", "s2", "r2", "b@b.test"};
    const struct
    {
        const char* name;
        std::string bytes;
        std::vector<Fields> rows;
    } cases[] = {
        {"empty lines between records",
         "\r\n\r\nhttp://a.test/\r\nOK\r\nt1\r\ns1\r\nBEGIN RESPONSE\r\nline1\r\nline2\r\n"
         "END RESPONSE\r\na@a.test\r\n\r\n\n\r\nhttp://b.test/\r\nERROR\r\nt2\r\ns2\r\n"
         "BEGIN RESPONSE\r\nr2\r\nEND RESPONSE\r\nb@b.test\r\n\r\n\r\n",
         {a, b}},
        {"bare line feeds",
         "http://a.test/\nOK\nt1\ns1\nBEGIN RESPONSE\nline1\nline2\nEND RESPONSE\na@a.test\n",
         {a}},
        {"no line break at the end",
         "http://b.test/\r\nERROR\r\nt2\r\ns2\r\nBEGIN RESPONSE\r\nr2\r\nEND RESPONSE\r\nb@b.test",
         {b}},
        {"begin line not tested",
         "http://b.test/\r\nERROR\r\nt2\r\ns2\r\nanything\r\nr2\r\nEND RESPONSE\r\nb@b.test\r\n",
         {b}},
        {"end marker in place of begin: empty response",
         "http://b.test/\r\nERROR\r\nt2\r\ns2\r\nEND RESPONSE\r\nb@b.test\r\n",
         {{"http://b.test/", "ERROR", "t2", "s2", "", "b@b.test"}}},
        {"marker piece at the end of a long line ends the block",
         "http://b.test/\r\nERROR\r\nt2\r\ns2\r\nBEGIN RESPONSE\r\n" +
             std::string(DataFile::kPieceLength, 'y') + "END RESPONSE\r\nb@b.test\r\n",
         {{"http://b.test/", "ERROR", "t2", "s2", std::string(DataFile::kPieceLength, 'y'),
           "b@b.test"}}},
        {"empty file", "", {}},
        {"only empty lines", "\r\n\n\r\n", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        EXPECT_EQ(LoadBytes(dir, c.bytes), c.rows);
    }
}

TEST(DataFile, TruncatedFilesKeepWhatTheyHold)
{
    const struct
    {
        const char* name;
        std::string bytes;
        Fields row;
    } cases[] = {
        {"after the URL", "http://a.test/\r\n", {"http://a.test/", "", "", "", "", ""}},
        {"after the status", "http://a.test/\r\nOK\r\n", {"http://a.test/", "OK", "", "", "", ""}},
        {"inside the search text",
         "http://a.test/\r\nOK\r\nt\r\nsea",
         {"http://a.test/", "OK", "t", "sea", "", ""}},
        {"response without its end",
         "http://a.test/\r\nOK\r\nt\r\ns\r\nBEGIN RESPONSE\r\np1\r\np2\r\n",
         {"http://a.test/", "OK", "t", "s", "p1\np2", ""}},
        {"response cut mid-line",
         "http://a.test/\r\nOK\r\nt\r\ns\r\nBEGIN RESPONSE\r\np1\r\np",
         {"http://a.test/", "OK", "t", "s", "p1\np", ""}},
        {"without the address",
         "http://a.test/\r\nOK\r\nt\r\ns\r\nBEGIN RESPONSE\r\nEND RESPONSE\r\n",
         {"http://a.test/", "OK", "t", "s", "", ""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        EXPECT_EQ(LoadBytes(dir, c.bytes), std::vector<Fields>{c.row});
    }

    // Cut anywhere, the golden file still loads, and the records before the
    // cut come back whole.
    const std::string golden = Golden();
    const auto full = Load(std::string(KESTRELLE_TEST_DATA_DIR) + "/kestrelle-golden.dat");
    TempDir dir;
    for (size_t cut = 0; cut <= golden.size(); ++cut) {
        const auto rows = LoadBytes(dir, golden.substr(0, cut));
        ASSERT_LE(rows.size(), full.size()) << cut;
        for (size_t i = 0; i + 1 < rows.size(); ++i)
            ASSERT_EQ(rows[i], full[i]) << cut;
    }
}

TEST(DataFile, HostilePageCannotChangeTheList)
{
    const std::string piece(DataFile::kPieceLength, 'h');
    const std::string injected = "http://evil.example/\nOK\n-\nx\nBEGIN RESPONSE\nEND RESPONSE\n"
                                 "evil@example.com\n";
    const std::string injectedLoaded = "http://evil.example/\nOK\n-\nx\nBEGIN RESPONSE\n"
                                       "END RESPONSE \nevil@example.com\n";
    const struct
    {
        const char* name;
        std::string page;
        std::string loaded; // the marker-like lines carry a blank
    } cases[] = {
        {"marker line then a record", "<p>\nEND RESPONSE\n" + injected,
         "<p>\nEND RESPONSE \n" + injectedLoaded},
        {"marker alone", "END RESPONSE", "END RESPONSE "},
        {"marker last", "a\nEND RESPONSE", "a\nEND RESPONSE "},
        {"marker after a line feed at the end", "END RESPONSE\n", "END RESPONSE \n"},
        {"marker as the last piece of a long line", piece + "END RESPONSE\n" + injected,
         piece + "END RESPONSE \n" + injectedLoaded},
        {"marker after two pieces", piece + piece + "END RESPONSE",
         piece + piece + "END RESPONSE "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const Fields victim = {"http://victim.test/", "OK", "t", "s", c.page, "v@x.test"};
        const Fields next = {"http://next.test/", "ERROR", "t2", "s2", "r2", "n@x.test"};
        Fields loaded = victim;
        loaded[SiteEntry::LastResponse] = c.loaded;
        EXPECT_TRUE(SameRows(RoundTrip(dir, {victim, next}), {loaded, next}));
    }

    // A line feed in a one-line field cannot shift the record either.
    TempDir dir;
    const auto rows = RoundTrip(dir, {{"http://a.test/\nEND RESPONSE", "OK", "t", "s\nx", "r",
                                       "e@x.test\nhttp://evil.example/"}});
    EXPECT_EQ(rows, (std::vector<Fields>{{"http://a.test/ END RESPONSE", "OK", "t", "s x", "r",
                                          "e@x.test http://evil.example/"}}));
}

TEST(DataFile, MissingFileIsAnEmptyListAndLoadsAppend)
{
    TempDir dir;
    SiteList list;
    Fill(list, {{"http://kept.test/", "OK", "-", "s", "-", ""}});
    EXPECT_TRUE(DataFile::LoadSites(list, dir.file("kestrelle.dat")));
    EXPECT_EQ(list.RowCount(), 1);
    EXPECT_TRUE(
        DataFile::LoadSites(list, std::string(KESTRELLE_TEST_DATA_DIR) + "/kestrelle-golden.dat"));
    EXPECT_EQ(list.RowCount(), 5);
    EXPECT_EQ(list.Text(0, SiteEntry::Url), "http://kept.test/");
    EXPECT_EQ(list.Text(1, SiteEntry::Url), "http://www.example.com/");
}

TEST(DataFile, FileThatCannotBeReadEndsTheLoad)
{
    TempDir dir;
    TempDir::WriteFile(dir.file("plain"), "x");
    for (const std::string& path : {dir.path(), dir.file("plain") + "/kestrelle.dat"}) {
        SCOPED_TRACE(path);
        SiteList list;
        Fill(list, {{"http://kept.test/", "OK", "-", "s", "-", ""}});
        testing::internal::CaptureStderr();
        EXPECT_FALSE(DataFile::LoadSites(list, path));
        EXPECT_EQ(LineCount(testing::internal::GetCapturedStderr()), 1);
        EXPECT_EQ(list.RowCount(), 1);
    }
}

// Makes every write past `bytes` fail with "file too large", as a full disk
// would; works for root as well, whom permission bits do not stop.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int);
};

TEST(DataFile, FailedSaveKeepsTheOldFileAndTheList)
{
    const std::vector<Fields> rows = {
        {"http://big.test/", "OK", "-", "s", std::string(200000, 'b'), "e@x.test"},
        {"http://other.test/", "ERROR", "-", "s", "r", ""}};
    enum class Way
    {
        FullDisk,
        TargetIsAFolder,
        FolderIsAFile
    };
    for (Way way : {Way::FullDisk, Way::TargetIsAFolder, Way::FolderIsAFile}) {
        SCOPED_TRACE(static_cast<int>(way));
        TempDir dir;
        std::string path = dir.file("kestrelle.dat");
        if (way == Way::TargetIsAFolder)
            std::filesystem::create_directory(path);
        if (way == Way::FolderIsAFile) {
            TempDir::WriteFile(dir.file("plain"), "x");
            path = dir.file("plain") + "/kestrelle.dat";
        }
        if (way == Way::FullDisk)
            TempDir::WriteFile(path, Golden());
        const auto before = FolderNames(dir.path());

        SiteList list;
        Fill(list, rows);
        testing::internal::CaptureStderr();
        bool saved;
        if (way == Way::FullDisk) {
            FileSizeLimit limit(64 * 1024);
            saved = DataFile::SaveSites(list, path);
        } else {
            saved = DataFile::SaveSites(list, path);
        }
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_FALSE(saved);
        EXPECT_EQ(LineCount(err), 1) << err;
        EXPECT_NE(err.find(path), std::string::npos) << err;
        EXPECT_EQ(Rows(list), rows);
        EXPECT_EQ(FolderNames(dir.path()), before); // no temporary file left behind
        if (way == Way::FullDisk) {
            EXPECT_EQ(TempDir::ReadFile(path), Golden());
        }
        if (way == Way::TargetIsAFolder) {
            EXPECT_TRUE(std::filesystem::is_directory(path));
        }
    }
}

TEST(DataFile, SaveReplacesTheFileAndKeepsItsPermissions)
{
    TempDir dir;
    SiteList list;
    Fill(list, kGoldenList);
    const std::string path = dir.file("kestrelle.dat");
    struct stat st;

    ASSERT_TRUE(DataFile::SaveSites(list, path));
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);

    chmod(path.c_str(), 0600);
    ASSERT_TRUE(DataFile::SaveSites(list, path));
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(FolderNames(dir.path()), std::vector<std::string>{"kestrelle.dat"});

    // Through a link: the file it names is replaced, the link stays.
    std::filesystem::create_directory(dir.file("real"));
    std::filesystem::create_symlink(dir.file("real/kestrelle.dat"), dir.file("link.dat"));
    ASSERT_TRUE(DataFile::SaveSites(list, dir.file("link.dat")));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link.dat")));
    EXPECT_EQ(TempDir::ReadFile(dir.file("real/kestrelle.dat")), Golden());
    EXPECT_EQ(FolderNames(dir.file("real")), std::vector<std::string>{"kestrelle.dat"});
}

TEST(DataFile, ConcurrentSavesLeaveOneWholeList)
{
    TempDir dir;
    const std::string path = dir.file("kestrelle.dat");
    SiteList a, b;
    for (int i = 0; i < 20; ++i) {
        a.Append(Entry({"http://a" + std::to_string(i) + ".test/", "OK", "-", "sa",
                        std::string(20000, 'a') + "\nend", "a@x.test"}));
        b.Append(Entry({"http://b" + std::to_string(i) + ".test/", "ERROR", "-", "sb",
                        std::string(15000, 'b'), "b@x.test"}));
    }
    ASSERT_TRUE(DataFile::SaveSites(a, dir.file("a.dat")));
    ASSERT_TRUE(DataFile::SaveSites(b, dir.file("b.dat")));
    const std::string bytesA = TempDir::ReadFile(dir.file("a.dat"));
    const std::string bytesB = TempDir::ReadFile(dir.file("b.dat"));

    std::atomic<bool> done{false};
    std::atomic<int> failures{0}, torn{0};
    auto saver = [&](const SiteList& list) {
        for (int i = 0; i < 15; ++i)
            if (!DataFile::SaveSites(list, path))
                ++failures;
    };
    std::thread reader([&] {
        while (!done) {
            const std::string bytes = TempDir::ReadFile(path);
            if (!bytes.empty() && bytes != bytesA && bytes != bytesB)
                ++torn;
        }
    });
    std::thread ta(saver, std::cref(a));
    std::thread tb(saver, std::cref(b));
    ta.join();
    tb.join();
    done = true;
    reader.join();

    EXPECT_EQ(failures, 0);
    EXPECT_EQ(torn, 0);
    const std::string last = TempDir::ReadFile(path);
    EXPECT_TRUE(last == bytesA || last == bytesB);
    EXPECT_EQ(FolderNames(dir.path()),
              (std::vector<std::string>{"a.dat", "b.dat", "kestrelle.dat"}));
}

} // namespace

namespace {

TEST(DataFile, OnlyARegularWritableFileIsReplaced)
{
    TempDir dir;
    SiteList list;
    Fill(list, kGoldenList);
    enum class Kind
    {
        ReadOnly,
        Fifo,
        Device
    };
    for (Kind kind : {Kind::ReadOnly, Kind::Fifo, Kind::Device}) {
        SCOPED_TRACE(static_cast<int>(kind));
        const std::string path = dir.file("target" + std::to_string(static_cast<int>(kind)));
        if (kind == Kind::ReadOnly) {
            TempDir::WriteFile(path, "old");
            chmod(path.c_str(), 0444);
        } else if (kind == Kind::Fifo) {
            ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
        } else if (geteuid() != 0 || mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) {
            continue; // making a device node needs root
        }
        struct stat before, after;
        ASSERT_EQ(lstat(path.c_str(), &before), 0);
        testing::internal::CaptureStderr();
        EXPECT_FALSE(DataFile::SaveSites(list, path));
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(LineCount(err), 1) << err;
        ASSERT_EQ(lstat(path.c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_mode, before.st_mode);
        if (kind == Kind::ReadOnly) {
            EXPECT_EQ(TempDir::ReadFile(path), "old");
        }
        // Loading one that is no regular file is refused at once.
        if (kind != Kind::ReadOnly) {
            SiteList loaded;
            testing::internal::CaptureStderr();
            EXPECT_FALSE(DataFile::LoadSites(loaded, path));
            EXPECT_EQ(LineCount(testing::internal::GetCapturedStderr()), 1);
        }
    }
}

TEST(DataFile, SaveRemovesLeftoversOfDeadWritersOnly)
{
    TempDir dir;
    const std::string path = dir.file("kestrelle.dat");
    SiteList list;
    Fill(list, kGoldenList);
    // A writer that died, and one still writing (it holds its file's lock).
    TempDir::WriteFile(dir.file(".kestrelle.dat.new-dead01"), "half a list");
    TempDir::WriteFile(dir.file(".kestrelle.dat.new-busy01"), "being written");
    TempDir::WriteFile(dir.file(".other.dat.new-xyz123"), "not ours");
    const int busy = open(dir.file(".kestrelle.dat.new-busy01").c_str(), O_RDONLY);
    ASSERT_GE(busy, 0);
    ASSERT_EQ(flock(busy, LOCK_EX), 0);

    ASSERT_TRUE(DataFile::SaveSites(list, path));
    EXPECT_EQ(FolderNames(dir.path()),
              (std::vector<std::string>{".kestrelle.dat.new-busy01", ".other.dat.new-xyz123",
                                        "kestrelle.dat"}));
    close(busy);
    ASSERT_TRUE(DataFile::SaveSites(list, path));
    EXPECT_EQ(FolderNames(dir.path()),
              (std::vector<std::string>{".other.dat.new-xyz123", "kestrelle.dat"}));
}

} // namespace

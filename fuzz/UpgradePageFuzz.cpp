#include "net/PieceSplitter.h"
#include "upgrade/UpgradePage.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

// The upgrade page comes from the network: whatever its bytes, the parser
// must end, stay in bounds and give values that come from the page.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::list<std::string> lines;
    PieceSplitter splitter(lines);
    splitter.Feed(reinterpret_cast<const char*>(data), size);
    splitter.Finish();

    UpgradePage page;
    page.ParseUpgradePage(lines);
    const std::string link = page.m_strDownloadLink;
    const float version = page.m_fPageVersion;
    if (page.m_strDescription.size() > size || link.size() > size)
        std::abort();
    if (!link.empty() && link.back() == '\n')
        std::abort();
    if (version != version) // no NaN: atof rules read decimals only
        std::abort();

    // A second page without markers keeps what the first one gave.
    page.ParseUpgradePage({"<html>\n", "</html>"});
    if (page.m_strDownloadLink != link || page.m_fPageVersion != version ||
        !page.m_strDescription.empty())
        std::abort();
    return 0;
}

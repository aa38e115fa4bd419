#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct FetchJob;
struct TransferHandles;
struct curl_slist;

// The two transfer workers. Each runs on a transfer thread with that
// thread's libcurl handles and does all the network and file work of one
// FetchJob. A job cancelled meanwhile ends at once, as a failure: no pieces,
// no file.
class FetchWorker
{
public:
    // Page mode: the body as text pieces in the job's list.
    static void FetchPageThread(FetchJob& job, TransferHandles& handles);
    // Download mode: the body into the job's file, deleted after any failure.
    static void DownloadFileThread(FetchJob& job, TransferHandles& handles);

    // The header lines handed to libcurl for each mode (made once per
    // transfer thread); none when there is no memory.
    static curl_slist* HeaderList(bool pageMode);

    // The request header blocks, byte for byte.
    static std::string PageHeaderBlock();
    static std::string DownloadHeaderBlock();

    // A download block that is an HTML page instead of the file: "<html>" in
    // the lower-cased bytes before the block's first NUL.
    static bool IsHtmlBlock(std::string_view block);
    // "Read 3072/120000 bytes", or "Read 3072 bytes" without an announced length.
    static std::string ProgressText(std::uint64_t received, std::int64_t announced);
};

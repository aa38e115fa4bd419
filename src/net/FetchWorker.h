#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct FetchJob;

// The two transfer workers. Each runs on a thread of its own, does all the
// network and file work of one FetchJob, closes everything it opened and
// sets the job's done flag as its very last access to the job.
class FetchWorker
{
public:
    // Page mode: the body as text pieces in the job's list.
    static void FetchPageThread(FetchJob& job);
    // Download mode: the body into the job's file, deleted after any failure.
    static void DownloadFileThread(FetchJob& job);

    // The request header blocks, byte for byte.
    static std::string PageHeaderBlock();
    static std::string DownloadHeaderBlock();

    // A download block that is an HTML page instead of the file: "<html>" in
    // the lower-cased bytes before the block's first NUL.
    static bool IsHtmlBlock(std::string_view block);
    // "Read 3072/120000 bytes", or "Read 3072 bytes" without an announced length.
    static std::string ProgressText(std::uint64_t received, std::int64_t announced);
};

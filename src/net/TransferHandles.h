#pragma once

#include <curl/curl.h>

// What one transfer thread keeps for all its transfers: an easy handle
// reset before each request, the multi handle it runs in (its wait can be
// interrupted, and it holds the DNS cache and the connections), and the
// two request header lists.
struct TransferHandles
{
    CURL* easy = nullptr;
    CURLM* multi = nullptr;
    curl_slist* pageHeaders = nullptr;
    curl_slist* downloadHeaders = nullptr;

    bool Usable() const
    {
        return easy != nullptr && multi != nullptr && pageHeaders != nullptr &&
               downloadHeaders != nullptr;
    }
};

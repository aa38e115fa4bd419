#include "net/CurlLibrary.h"

#include <curl/curl.h>
#include <openssl/crypto.h>

#include <mutex>

bool CurlLibrary::Ready()
{
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] {
        // The TLS library would tear down its state in an exit handler of
        // its own. Threads still running then (a pass fetching, an alert
        // e-mail going out, both allowed while the program ends) free their
        // per-thread state afterwards, a second time: a crash on the way
        // out. Its state goes with the process instead.
        OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr);
        ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    });
    return ready;
}

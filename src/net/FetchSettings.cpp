#include "net/FetchSettings.h"

#include "net/CredentialsPrompt.h"

#include <curl/curl.h>
#include <openssl/crypto.h>

#include <mutex>

namespace {

// Made once and never destroyed: a transfer may still read these while the
// process's statics are torn down at its end.
struct Store
{
    std::mutex mutex;
    FetchSettings::Timeouts timeouts = FetchSettings::kTimeouts;
    std::shared_ptr<CredentialsPrompt> prompt;
    std::string caFile;
    bool sessionFailure = false;
};

Store& TheStore()
{
    static Store* store = new Store;
    return *store;
}

} // namespace

FetchSettings::Timeouts FetchSettings::CurrentTimeouts()
{
    Store& s = TheStore();
    std::lock_guard lock(s.mutex);
    return s.timeouts;
}

void FetchSettings::SetCredentialsPrompt(std::shared_ptr<CredentialsPrompt> prompt)
{
    Store& s = TheStore();
    std::lock_guard lock(s.mutex);
    s.prompt = std::move(prompt);
}

std::shared_ptr<CredentialsPrompt> FetchSettings::GetCredentialsPrompt()
{
    Store& s = TheStore();
    std::lock_guard lock(s.mutex);
    return s.prompt;
}

void FetchSettings::SetTimeoutsForTests(const Timeouts& timeouts)
{
    Store& s = TheStore();
    std::lock_guard lock(s.mutex);
    s.timeouts = timeouts;
}

void FetchSettings::SetCaFileForTests(const std::string& path)
{
    Store& s = TheStore();
    std::lock_guard lock(s.mutex);
    s.caFile = path;
}

std::string FetchSettings::CaFileForTests()
{
    Store& s = TheStore();
    std::lock_guard lock(s.mutex);
    return s.caFile;
}

void FetchSettings::SetSessionFailureForTests(bool fail)
{
    Store& s = TheStore();
    std::lock_guard lock(s.mutex);
    s.sessionFailure = fail;
}

bool FetchSettings::SessionFailureForTests()
{
    Store& s = TheStore();
    std::lock_guard lock(s.mutex);
    return s.sessionFailure;
}

void FetchSettings::ResetForTests()
{
    Store& s = TheStore();
    std::lock_guard lock(s.mutex);
    s.timeouts = kTimeouts;
    s.prompt.reset();
    s.caFile.clear();
    s.sessionFailure = false;
}

bool FetchSettings::CurlReady()
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

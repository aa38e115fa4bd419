#include "net/FetchSettings.h"

#include "net/CredentialsPrompt.h"

#include <mutex>

namespace {
std::mutex g_mutex;
FetchSettings::Timeouts g_timeouts = FetchSettings::kTimeouts;
std::shared_ptr<CredentialsPrompt> g_prompt;
std::string g_caFile;
bool g_sessionFailure = false;
} // namespace

FetchSettings::Timeouts FetchSettings::CurrentTimeouts()
{
    std::lock_guard lock(g_mutex);
    return g_timeouts;
}

void FetchSettings::SetCredentialsPrompt(std::shared_ptr<CredentialsPrompt> prompt)
{
    std::lock_guard lock(g_mutex);
    g_prompt = std::move(prompt);
}

std::shared_ptr<CredentialsPrompt> FetchSettings::GetCredentialsPrompt()
{
    std::lock_guard lock(g_mutex);
    return g_prompt;
}

void FetchSettings::SetTimeoutsForTests(const Timeouts& timeouts)
{
    std::lock_guard lock(g_mutex);
    g_timeouts = timeouts;
}

void FetchSettings::SetCaFileForTests(const std::string& path)
{
    std::lock_guard lock(g_mutex);
    g_caFile = path;
}

std::string FetchSettings::CaFileForTests()
{
    std::lock_guard lock(g_mutex);
    return g_caFile;
}

void FetchSettings::SetSessionFailureForTests(bool fail)
{
    std::lock_guard lock(g_mutex);
    g_sessionFailure = fail;
}

bool FetchSettings::SessionFailureForTests()
{
    std::lock_guard lock(g_mutex);
    return g_sessionFailure;
}

void FetchSettings::ResetForTests()
{
    std::lock_guard lock(g_mutex);
    g_timeouts = kTimeouts;
    g_prompt.reset();
    g_caFile.clear();
    g_sessionFailure = false;
}

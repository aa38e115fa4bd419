#pragma once

#include "settings/CRegStore.h"
#include "support/TempDir.h"

#include <filesystem>
#include <string>

// Points the store at a fresh temporary configuration folder for the life of
// the object, so no test ever reads or writes the user's own settings.
class TempStore
{
public:
    TempStore() : m_previous(CRegStore::SetConfigFolderForTests(m_dir.path())) {}
    ~TempStore() { CRegStore::SetConfigFolderForTests(m_previous); }
    TempStore(const TempStore&) = delete;
    TempStore& operator=(const TempStore&) = delete;

    const std::string& configHome() const { return m_dir.path(); }
    std::string folder() const { return m_dir.path() + "/Kestrelle"; }
    std::string file() const { return folder() + "/Kestrelle.conf"; }

    // Writes the store file as a person editing it by hand would.
    void HandWrite(const std::string& content) const
    {
        std::filesystem::create_directories(folder());
        TempDir::WriteFile(file(), content);
    }

private:
    TempDir m_dir;
    std::string m_previous;
};

inline std::string Read(const std::string& name)
{
    return CRegStore::ReadString(RegRoot::CurrentUser, CRegStore::kSoftware, CRegStore::kProductKey,
                                 name);
}

inline bool Write(const std::string& name, const std::string& text)
{
    return CRegStore::WriteString(CRegStore::kProductKey, name, text);
}

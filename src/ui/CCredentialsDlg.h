#pragma once

#include <QDialog>

#include <memory>
#include <string>

namespace Ui {
class CredentialsDlg;
}

// Asks for the user name and password a protected site wants, naming the
// site and the realm its server gave, with the choice to remember them in
// the desktop's keyring (or a word that none answered). Edit Site closes it
// with kEditSite, for a user who would rather change the site's address.
class CCredentialsDlg : public QDialog
{
    Q_OBJECT

public:
    static constexpr int kEditSite = 2;

    CCredentialsDlg(const std::string& site, const std::string& realm, bool keyringAvailable,
                    QWidget* parent = nullptr);
    ~CCredentialsDlg() override;

    void SetUser(const std::string& user);
    std::string User() const;
    std::string Password() const;
    bool Remember() const;

private:
    std::unique_ptr<Ui::CredentialsDlg> m_ui;
};

#pragma once

#include <QDialog>

#include <memory>
#include <string>

namespace Ui {
class CredentialsDlg;
}

// Asks for the user name and password a protected site wants, naming the
// site and the realm its server gave.
class CCredentialsDlg : public QDialog
{
    Q_OBJECT

public:
    CCredentialsDlg(const std::string& site, const std::string& realm, QWidget* parent = nullptr);
    ~CCredentialsDlg() override;

    std::string User() const;
    std::string Password() const;

private:
    std::unique_ptr<Ui::CredentialsDlg> m_ui;
};

#include "ui/CCredentialsDlg.h"

#include "ui_CredentialsDlg.h"

CCredentialsDlg::CCredentialsDlg(const std::string& site, const std::string& realm, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::CredentialsDlg>())
{
    m_ui->setupUi(this);
    m_ui->siteLabel->setText(
        tr("The site %1 asks for a user name and password.").arg(QString::fromStdString(site)));
    m_ui->realmLabel->setText(QString::fromStdString(realm));
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    m_ui->userEdit->setFocus();
}

CCredentialsDlg::~CCredentialsDlg() = default;

std::string CCredentialsDlg::User() const
{
    return m_ui->userEdit->text().toStdString();
}

std::string CCredentialsDlg::Password() const
{
    return m_ui->passwordEdit->text().toStdString();
}

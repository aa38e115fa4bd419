#include "ui/CCredentialsDlg.h"

#include "ui_CredentialsDlg.h"

CCredentialsDlg::CCredentialsDlg(const std::string& site, const std::string& realm,
                                 bool keyringAvailable, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::CredentialsDlg>())
{
    m_ui->setupUi(this);
    m_ui->siteLabel->setText(
        tr("The site %1 asks for a user name and password.").arg(QString::fromStdString(site)));
    m_ui->realmLabel->setText(QString::fromStdString(realm));
    m_ui->rememberCheck->setChecked(keyringAvailable);
    m_ui->rememberCheck->setEnabled(keyringAvailable);
    m_ui->keyringNote->setVisible(!keyringAvailable);
    connect(m_ui->editSiteButton, &QPushButton::clicked, this, [this] { done(kEditSite); });
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    m_ui->userEdit->setFocus();
}

CCredentialsDlg::~CCredentialsDlg() = default;

void CCredentialsDlg::SetUser(const std::string& user)
{
    m_ui->userEdit->setText(QString::fromStdString(user));
    if (!user.empty())
        m_ui->passwordEdit->setFocus();
}

std::string CCredentialsDlg::User() const
{
    return m_ui->userEdit->text().toStdString();
}

std::string CCredentialsDlg::Password() const
{
    return m_ui->passwordEdit->text().toStdString();
}

bool CCredentialsDlg::Remember() const
{
    return m_ui->rememberCheck->isChecked() && m_ui->rememberCheck->isEnabled();
}

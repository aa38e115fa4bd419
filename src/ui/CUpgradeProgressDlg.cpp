#include "ui/CUpgradeProgressDlg.h"

#include "ui/UiThread.h"
#include "ui_UpgradeProgressDlg.h"

CUpgradeProgressDlg::CUpgradeProgressDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      m_ui(std::make_unique<Ui::UpgradeProgressDlg>())
{
    m_ui->setupUi(this);
    setObjectName("CUpgradeProgressDlg");
    setModal(false);
}

CUpgradeProgressDlg::~CUpgradeProgressDlg() = default;

void CUpgradeProgressDlg::SetText(const std::string& text)
{
    m_ui->IDC_UPGRADE_STATUS->setText(QString::fromStdString(text));
}

QString CUpgradeProgressDlg::Text() const
{
    return m_ui->IDC_UPGRADE_STATUS->text();
}

void CUpgradeProgressDlg::ShowNormal()
{
    showNormal();
    m_ui->IDC_UPGRADE_STATUS->show();
}

void CUpgradeProgressDlg::SetProgressText(const std::string& text)
{
    QLabel* label = m_ui->IDC_UPGRADE_STATUS;
    RunOnUi(label, [label, text = QString::fromStdString(text)] { label->setText(text); });
}

void CUpgradeProgressDlg::reject()
{
    // Esc must not hide it while its operation still runs.
}

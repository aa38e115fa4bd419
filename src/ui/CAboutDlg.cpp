#include "ui/CAboutDlg.h"

#include "ui_AboutDlg.h"

#include <QIcon>
#include <QLayout>

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent), m_ui(std::make_unique<Ui::AboutDlg>())
{
    m_ui->setupUi(this);
    // The build's own version, which the upgrade check compares too.
    m_ui->versionLabel->setText(QStringLiteral("Kestrelle Version " KESTRELLE_VERSION));
    m_ui->icon128->setPixmap(QIcon(":/icons/kestrelle.svg").pixmap(32, 32));
    m_ui->hyperlink1103->setText(MakerAddress());
    m_ui->hyperlink1103->Bind();
    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

CAboutDlg::~CAboutDlg() = default;

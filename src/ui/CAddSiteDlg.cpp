#include "ui/CAddSiteDlg.h"

#include "monitor/CheckPass.h"
#include "net/CPageFetcher.h"
#include "platform/AsciiText.h"
#include "platform/UserMessage.h"
#include "ui_AddSiteDlg.h"

#include <QIcon>

CAddSiteDlg::CAddSiteDlg(QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::AddSiteDlg>())
{
    m_ui->setupUi(this);
    m_ui->icon137->setPixmap(QIcon(":/icons/addsite.svg").pixmap(32, 32));
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    connect(m_ui->okButton, &QPushButton::clicked, this, &CAddSiteDlg::OnOK);
    connect(m_ui->cancelButton, &QPushButton::clicked, this, &CAddSiteDlg::reject);
}

CAddSiteDlg::~CAddSiteDlg() = default;

int CAddSiteDlg::DoModal()
{
    OnInitDialog();
    const int result = exec();
    // The question boxes in between leave the window manager without a
    // window to give the keyboard back to once this dialog is gone: hand it
    // to the window that opened the dialog, as the user expects.
    if (QWidget* owner = parentWidget()) {
        owner->window()->raise();
        owner->window()->activateWindow();
    }
    return result;
}

void CAddSiteDlg::OnInitDialog()
{
    m_ui->urlEdit->setText(QString::fromStdString(m_URL));
    m_ui->searchTextEdit->setText(QString::fromStdString(m_SearchText));
    m_ui->emailEdit->setText(QString::fromStdString(m_Email));
    m_ui->urlEdit->setFocus();
}

void CAddSiteDlg::TakeFields()
{
    m_URL = m_ui->urlEdit->text().toStdString();
    m_SearchText = m_ui->searchTextEdit->text().toStdString();
    m_Email = m_ui->emailEdit->text().toStdString();
}

void CAddSiteDlg::OnOK()
{
    // A second OK or Enter while the page is being checked would start a
    // second check inside the first.
    if (IsChecking())
        return;
    TakeFields();

    if (AsciiText::Lower(m_URL).find("http") == std::string::npos) {
        UserMessage::Show(std::string("Please enter a valid URL in the format ") + kExampleAddress,
                          UserMessage::Icon::Stop);
        m_ui->urlEdit->setFocus();
        return;
    }
    if (m_SearchText.empty()) {
        UserMessage::Show("Please enter a piece of text or html to search for within the web page.",
                          UserMessage::Icon::Stop);
        m_ui->searchTextEdit->setFocus();
        return;
    }

    const std::string verdict = CheckPage(m_URL, m_SearchText);
    if (m_bCancelled) {
        m_bCancelled = false;
        QDialog::reject();
        return;
    }
    if (verdict != CheckPass::kTextFound) {
        // A page that did not come whole is named with why, as its row
        // would show it.
        const std::string why = verdict == CheckPass::kTextNotFound ? "" : " (" + verdict + ")";
        const std::string question = "The search text \"" + m_SearchText +
                                     "\" was not found in the page at " + m_URL + why +
                                     "\n\nDo you want to continue adding this site with the "
                                     "supplied search text?";
        if (UserMessage::Show(question, UserMessage::Icon::Question, UserMessage::Buttons::YesNo) !=
            UserMessage::Answer::Yes) {
            // The OK button was disabled while the page was read, which took
            // the focus away: the text is what the user will want to mend.
            m_ui->searchTextEdit->setFocus();
            return;
        }
    }
    TakeFields();
    accept();
}

void CAddSiteDlg::reject()
{
    if (m_pFetcher) {
        // The fetch ends within moments; OnOK then closes the dialog.
        m_bCancelled = true;
        m_pFetcher->Cancel();
        return;
    }
    QDialog::reject();
}

std::string CAddSiteDlg::CheckPage(const std::string& url, const std::string& text)
{
    CPageFetcher fetcher;
    m_pFetcher = &fetcher;
    SetChecking(true);
    fetcher.SetSearchText(text);
    fetcher.Fetch(url, std::string());
    SetChecking(false);
    m_pFetcher = nullptr;
    // Judged as a pass judges it, so that what is added here as found is
    // not "ERROR" at the first pass, nor the other way round.
    return CheckPass::Verdict(fetcher.Outcome(), fetcher.GetText(), text);
}

void CAddSiteDlg::SetChecking(bool checking)
{
    // The texts stay as they were checked: what is stored is what was found.
    m_ui->urlEdit->setReadOnly(checking);
    m_ui->searchTextEdit->setReadOnly(checking);
    m_ui->okButton->setEnabled(!checking);
    m_ui->checkingLabel->setText(checking ? tr("Checking the page...") : QString());
    if (checking)
        setCursor(Qt::BusyCursor);
    else
        unsetCursor();
}

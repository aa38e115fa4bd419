#include "ui/COptionsWindow.h"

#include "monitor/MailAlert.h"
#include "platform/AppPaths.h"
#include "platform/UserMessage.h"
#include "settings/COptionsDlg.h"
#include "ui/UiThread.h"
#include "ui_OptionsDlg.h"

#include <QApplication>
#include <QFileDialog>
#include <QIcon>
#include <QPointer>
#include <QRegularExpressionValidator>
#include <QSoundEffect>
#include <QUrl>

#include <mutex>
#include <thread>

namespace {

std::mutex g_seamMutex;
COptionsWindow::FileChooser g_fileChooser;
COptionsWindow::TestMailSender g_testMailSender;

std::optional<std::string> AskForFile(QWidget* parent, const COptionsWindow::FileQuestion& q)
{
    QFileDialog dialog(parent, q.title, q.folder, q.filter);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(q.defaultSuffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().first().toStdString();
}

// Browse starts where the program's own default sound lives.
std::string SoundFolder()
{
    const std::string path = AppPaths::ProgramDataFile(COptionsDlg::kDefaultSound);
    return path.substr(0, path.find_last_of(AppPaths::kSeparator));
}

} // namespace

COptionsWindow::COptionsWindow(COptionsDlg& settings, QWidget* parent)
    : QDialog(parent), m_settings(settings), m_ui(std::make_unique<Ui::OptionsDlg>())
{
    KESTRELLE_ASSERT_UI_THREAD();
    m_ui->setupUi(this);
    m_ui->icon172->setPixmap(QIcon(":/icons/sound.svg").pixmap(32, 32));
    // Digits only, as the number edits have always been.
    for (QLineEdit* edit : {m_ui->minutesEdit, m_ui->parallelEdit, m_ui->confirmEdit,
                            m_ui->portEdit, m_ui->certWarnDaysEdit})
        edit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), edit));
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    connect(m_ui->playSoundCheck, &QCheckBox::clicked, this, &COptionsWindow::OnPlaySound);
    connect(m_ui->enableEmailCheck, &QCheckBox::clicked, this, &COptionsWindow::OnEnableEmail);
    connect(m_ui->browseButton, &QPushButton::clicked, this, &COptionsWindow::OnBrowse);
    connect(m_ui->previewButton, &QPushButton::clicked, this, &COptionsWindow::OnPreview);
    connect(m_ui->testEmailButton, &QPushButton::clicked, this, &COptionsWindow::OnTestEmail);
    connect(m_ui->okButton, &QPushButton::clicked, this, &COptionsWindow::OnOK);
}

COptionsWindow::~COptionsWindow() = default;

int COptionsWindow::Run(COptionsDlg& settings, QWidget* parent)
{
    KESTRELLE_ASSERT_UI_THREAD();
    COptionsWindow window(settings, parent);
    window.OnInitDialog();
    return window.exec();
}

void COptionsWindow::OnInitDialog()
{
    KESTRELLE_ASSERT_UI_THREAD();
    // Asked before the handlers take the drop-down's None into the field.
    const std::optional<COptionsDlg::Notice> unknown = m_settings.UnknownSecurityNotice();
    PutFields();
    OnPlaySound();
    OnEnableEmail();
    if (unknown)
        RunOnUi(this, [this, unknown] { Show(unknown); }); // once the window is up
}

void COptionsWindow::PutFields()
{
    KESTRELLE_ASSERT_UI_THREAD();
    const COptionsDlg::Controls c = m_settings.Values();
    m_ui->minutesEdit->setText(QString::fromStdString(c.minutes));
    m_ui->parallelEdit->setText(QString::fromStdString(c.parallelChecks));
    m_ui->confirmEdit->setText(QString::fromStdString(c.confirmSeconds));
    m_ui->soundNameLabel->setText(QString::fromStdString(m_settings.m_SoundName));
    m_ui->playSoundCheck->setChecked(c.playSound);
    m_ui->passwordEdit->setText(QString::fromStdString(c.password));
    m_ui->usernameEdit->setText(QString::fromStdString(c.username));
    m_ui->addressEdit->setText(QString::fromStdString(c.address));
    m_ui->enableEmailCheck->setChecked(c.enableEmail);
    m_ui->serverEdit->setText(QString::fromStdString(c.server));
    m_ui->portEdit->setText(QString::fromStdString(c.port));
    m_ui->securityCombo->setCurrentIndex(c.security >= 0 && c.security <= 2 ? c.security : 0);
    m_ui->recoveryBalloonCheck->setChecked(c.recoveryBalloon);
    m_ui->recoveryEmailCheck->setChecked(c.recoveryEmail);
    m_ui->certWarnDaysEdit->setText(QString::fromStdString(c.certWarnDays));
}

COptionsDlg::Controls COptionsWindow::Controls() const
{
    COptionsDlg::Controls c;
    c.minutes = m_ui->minutesEdit->text().toStdString();
    c.parallelChecks = m_ui->parallelEdit->text().toStdString();
    c.confirmSeconds = m_ui->confirmEdit->text().toStdString();
    c.playSound = m_ui->playSoundCheck->isChecked();
    c.password = m_ui->passwordEdit->text().toStdString();
    c.username = m_ui->usernameEdit->text().toStdString();
    c.address = m_ui->addressEdit->text().toStdString();
    c.enableEmail = m_ui->enableEmailCheck->isChecked();
    c.server = m_ui->serverEdit->text().toStdString();
    c.port = m_ui->portEdit->text().toStdString();
    c.security = m_ui->securityCombo->currentIndex();
    c.recoveryBalloon = m_ui->recoveryBalloonCheck->isChecked();
    c.recoveryEmail = m_ui->recoveryEmailCheck->isChecked();
    c.certWarnDays = m_ui->certWarnDaysEdit->text().toStdString();
    return c;
}

bool COptionsWindow::Show(const std::optional<COptionsDlg::Notice>& notice)
{
    if (!notice)
        return false;
    using Icon = COptionsDlg::Notice::Icon;
    UserMessage::Show(notice->text,
                      notice->icon == Icon::Exclamation   ? UserMessage::Icon::Exclamation
                      : notice->icon == Icon::Information ? UserMessage::Icon::Information
                                                          : UserMessage::Icon::Stop);
    if (notice->focus == COptionsDlg::kSecurityCombo) {
        m_ui->securityCombo->setFocus();
        return true;
    }
    QLineEdit* focus = notice->focus == COptionsDlg::kMinutesEdit        ? m_ui->minutesEdit
                       : notice->focus == COptionsDlg::kParallelEdit     ? m_ui->parallelEdit
                       : notice->focus == COptionsDlg::kConfirmEdit      ? m_ui->confirmEdit
                       : notice->focus == COptionsDlg::kPortEdit         ? m_ui->portEdit
                       : notice->focus == COptionsDlg::kServerEdit       ? m_ui->serverEdit
                       : notice->focus == COptionsDlg::kAddressEdit      ? m_ui->addressEdit
                       : notice->focus == COptionsDlg::kCertWarnDaysEdit ? m_ui->certWarnDaysEdit
                                                                         : nullptr;
    if (focus) {
        focus->setFocus();
        focus->selectAll();
    }
    return true;
}

void COptionsWindow::EnableSoundControls()
{
    const bool on = m_settings.m_PlaySound != 0;
    m_ui->previewButton->setEnabled(on);
    m_ui->browseButton->setEnabled(on);
}

void COptionsWindow::EnableEmailControls()
{
    const bool on = m_settings.m_EnableEmail != 0;
    m_ui->testEmailButton->setEnabled(on);
    m_ui->serverEdit->setEnabled(on);
    m_ui->addressEdit->setEnabled(on);
    m_ui->usernameEdit->setEnabled(on);
    m_ui->passwordEdit->setEnabled(on);
    m_ui->securityCombo->setEnabled(on);
    m_ui->recoveryEmailCheck->setEnabled(on);
}

void COptionsWindow::Unclick(QCheckBox* box, int& field, int stored)
{
    field = stored;
    box->setChecked(stored != 0);
}

void COptionsWindow::OnPlaySound()
{
    KESTRELLE_ASSERT_UI_THREAD();
    const int stored = m_settings.m_PlaySound;
    if (m_bTesting) {
        Unclick(m_ui->playSoundCheck, m_settings.m_PlaySound, stored); // the click does nothing
        return;
    }
    if (Show(m_settings.OnPlaySoundClicked(Controls()))) {
        Unclick(m_ui->playSoundCheck, m_settings.m_PlaySound, stored);
        return;
    }
    EnableSoundControls();
}

void COptionsWindow::OnEnableEmail()
{
    KESTRELLE_ASSERT_UI_THREAD();
    const int stored = m_settings.m_EnableEmail;
    if (m_bTesting) {
        Unclick(m_ui->enableEmailCheck, m_settings.m_EnableEmail, stored);
        return;
    }
    if (Show(m_settings.OnEnableEmailClicked(Controls()))) {
        Unclick(m_ui->enableEmailCheck, m_settings.m_EnableEmail, stored);
        return;
    }
    EnableEmailControls();
}

void COptionsWindow::OnBrowse()
{
    KESTRELLE_ASSERT_UI_THREAD();
    if (m_bTesting || m_settings.m_PlaySound == 0)
        return;
    FileChooser chooser;
    {
        std::lock_guard lock(g_seamMutex);
        chooser = g_fileChooser;
    }
    const FileQuestion question{tr("Select a sound effect"), QString::fromStdString(SoundFolder()),
                                tr("WAV Sound Files (*.wav)"), "wav"};
    const auto chosen = chooser ? chooser(this, question) : AskForFile(this, question);
    if (!chosen)
        return;
    m_settings.OnSoundChosen(*chosen);
    // Only the sound changed: what is typed in the other fields stays.
    m_ui->soundNameLabel->setText(QString::fromStdString(m_settings.m_SoundName));
}

void COptionsWindow::OnPreview()
{
    KESTRELLE_ASSERT_UI_THREAD();
    if (m_bTesting || m_settings.m_PlaySound == 0)
        return;
    // One effect at a time: a second Preview starts the sound afresh.
    m_sound = std::make_unique<QSoundEffect>();
    connect(m_sound.get(), &QSoundEffect::statusChanged, this, [this] {
        if (m_sound && m_sound->status() == QSoundEffect::Error)
            QApplication::beep(); // what a sound that cannot be played gives
    });
    m_sound->setSource(QUrl::fromLocalFile(QString::fromStdString(m_settings.m_WavPathname)));
    m_sound->play();
}

void COptionsWindow::OnTestEmail()
{
    KESTRELLE_ASSERT_UI_THREAD();
    if (m_bTesting || Show(m_settings.TestEmailChecks(Controls())))
        return;
    MailAlertJob mail = MailAlert::TestMessage(m_settings);
    TestMailSender sender;
    {
        std::lock_guard lock(g_seamMutex);
        sender = g_testMailSender;
    }
    if (!sender)
        sender = [](const MailAlertJob& m) { return MailDelivery::Send(m); };

    SetTesting(true);
    // Off this thread, so the window stays painted while the server takes
    // its time (bounded by the mail deadline). The outcome comes back to the
    // UI thread, and to the window only if it is still there.
    std::thread([window = QPointer<COptionsWindow>(this), sender = std::move(sender),
                 mail = std::move(mail)] {
        MailDelivery::Report report = sender(mail);
        RunOnUi([window, report = std::move(report), recipient = mail.m_strRecipient] {
            if (window)
                window->ShowTestResult(report, recipient);
        });
    }).detach();
}

void COptionsWindow::ShowTestResult(const MailDelivery::Report& report,
                                    const std::string& recipient)
{
    KESTRELLE_ASSERT_UI_THREAD();
    SetTesting(false);
    Show(COptionsDlg::TestEmailNotice(report, recipient)); // nothing when unreachable
    Q_EMIT TestEmailFinished();
}

void COptionsWindow::SetTesting(bool testing)
{
    m_bTesting = testing;
    m_ui->busyLabel->setText(testing ? tr("Sending a test email...") : QString());
    if (testing)
        setCursor(Qt::BusyCursor);
    else
        unsetCursor();
}

void COptionsWindow::OnOK()
{
    KESTRELLE_ASSERT_UI_THREAD();
    if (m_bTesting || Show(m_settings.OnOk(Controls())))
        return;
    accept();
}

void COptionsWindow::SetFileChooserForTests(FileChooser chooser)
{
    std::lock_guard lock(g_seamMutex);
    g_fileChooser = std::move(chooser);
}

void COptionsWindow::SetTestMailSenderForTests(TestMailSender sender)
{
    std::lock_guard lock(g_seamMutex);
    g_testMailSender = std::move(sender);
}

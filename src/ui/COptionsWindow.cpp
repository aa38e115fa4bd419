#include "ui/COptionsWindow.h"

#include "platform/AppPaths.h"
#include "platform/UserMessage.h"
#include "settings/COptionsDlg.h"
#include "ui_OptionsDlg.h"

#include <QApplication>
#include <QFileDialog>
#include <QIcon>
#include <QRegularExpressionValidator>
#include <QSoundEffect>
#include <QUrl>

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
    : QDialog(parent), m_settings(settings), m_ui(std::make_unique<Ui::OptionsDlg>()),
      m_relay(std::make_shared<Relay>())
{
    m_ui->setupUi(this);
    m_relay->window = this;
    m_ui->icon172->setPixmap(QIcon(":/icons/sound.svg").pixmap(32, 32));
    // Digits only, as the number edits have always been.
    for (QLineEdit* edit : {m_ui->minutesEdit, m_ui->portEdit})
        edit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), edit));
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    connect(m_ui->playSoundCheck, &QCheckBox::clicked, this, &COptionsWindow::OnPlaySound);
    connect(m_ui->enableEmailCheck, &QCheckBox::clicked, this, &COptionsWindow::OnEnableEmail);
    connect(m_ui->browseButton, &QPushButton::clicked, this, &COptionsWindow::OnBrowse);
    connect(m_ui->previewButton, &QPushButton::clicked, this, &COptionsWindow::OnPreview);
    connect(m_ui->testEmailButton, &QPushButton::clicked, this, &COptionsWindow::OnTestEmail);
    connect(m_ui->okButton, &QPushButton::clicked, this, &COptionsWindow::OnOK);
}

COptionsWindow::~COptionsWindow()
{
    // A test e-mail still under way finds no window to report to.
    std::lock_guard lock(m_relay->mutex);
    m_relay->window = nullptr;
}

int COptionsWindow::Run(COptionsDlg& settings, QWidget* parent)
{
    COptionsWindow window(settings, parent);
    window.OnInitDialog();
    return window.exec();
}

void COptionsWindow::OnInitDialog()
{
    PutFields();
    OnPlaySound();
    OnEnableEmail();
}

void COptionsWindow::PutFields()
{
    const COptionsDlg::Controls c = m_settings.Values();
    m_ui->minutesEdit->setText(QString::fromStdString(c.minutes));
    m_ui->soundNameLabel->setText(QString::fromStdString(m_settings.m_SoundName));
    m_ui->playSoundCheck->setChecked(c.playSound);
    m_ui->passwordEdit->setText(QString::fromStdString(c.password));
    m_ui->usernameEdit->setText(QString::fromStdString(c.username));
    m_ui->addressEdit->setText(QString::fromStdString(c.address));
    m_ui->enableEmailCheck->setChecked(c.enableEmail);
    m_ui->serverEdit->setText(QString::fromStdString(c.server));
    m_ui->portEdit->setText(QString::fromStdString(c.port));
    m_ui->securityCombo->setCurrentIndex(c.security >= 0 && c.security <= 2 ? c.security : 0);
}

COptionsDlg::Controls COptionsWindow::Controls() const
{
    COptionsDlg::Controls c;
    c.minutes = m_ui->minutesEdit->text().toStdString();
    c.playSound = m_ui->playSoundCheck->isChecked();
    c.password = m_ui->passwordEdit->text().toStdString();
    c.username = m_ui->usernameEdit->text().toStdString();
    c.address = m_ui->addressEdit->text().toStdString();
    c.enableEmail = m_ui->enableEmailCheck->isChecked();
    c.server = m_ui->serverEdit->text().toStdString();
    c.port = m_ui->portEdit->text().toStdString();
    c.security = m_ui->securityCombo->currentIndex();
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
    QLineEdit* focus = notice->focus == COptionsDlg::kMinutesEdit   ? m_ui->minutesEdit
                       : notice->focus == COptionsDlg::kPortEdit    ? m_ui->portEdit
                       : notice->focus == COptionsDlg::kServerEdit  ? m_ui->serverEdit
                       : notice->focus == COptionsDlg::kAddressEdit ? m_ui->addressEdit
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
}

void COptionsWindow::OnPlaySound()
{
    if (m_bTesting) {
        m_ui->playSoundCheck->setChecked(m_settings.m_PlaySound != 0); // the click does nothing
        return;
    }
    if (Show(m_settings.OnPlaySoundClicked(Controls())))
        return;
    EnableSoundControls();
}

void COptionsWindow::OnEnableEmail()
{
    if (m_bTesting) {
        m_ui->enableEmailCheck->setChecked(m_settings.m_EnableEmail != 0);
        return;
    }
    if (Show(m_settings.OnEnableEmailClicked(Controls())))
        return;
    EnableEmailControls();
}

void COptionsWindow::OnBrowse()
{
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
    PutFields();
}

void COptionsWindow::OnPreview()
{
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
    if (m_bTesting || Show(m_settings.TestEmailChecks(Controls())))
        return;
    MailDelivery::Mail mail = m_settings.TestEmailMessage();
    TestMailSender sender;
    {
        std::lock_guard lock(g_seamMutex);
        sender = g_testMailSender;
    }
    if (!sender)
        sender = &COptionsDlg::SendTestEmail;

    SetTesting(true);
    // Off this thread: connecting may take 30 s and each reply 60 s, and the
    // window must stay painted meanwhile.
    std::thread([relay = m_relay, sender = std::move(sender), mail = std::move(mail)] {
        const std::optional<COptionsDlg::Notice> outcome = sender(mail);
        std::lock_guard lock(relay->mutex);
        if (relay->window)
            QMetaObject::invokeMethod(
                relay->window,
                [window = relay->window, outcome] { window->ShowTestResult(outcome); },
                Qt::QueuedConnection);
    }).detach();
}

void COptionsWindow::ShowTestResult(const std::optional<COptionsDlg::Notice>& outcome)
{
    SetTesting(false);
    Show(outcome); // nothing when the server could not be reached
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

#pragma once

#include "settings/COptionsDlg.h"

#include <QDialog>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace Ui {
class OptionsDlg;
}
class QCheckBox;
class QLineEdit;
class QSoundEffect;

// The Options window over a settings object: it shows the object's fields,
// takes them back from the controls in a fixed order, writes the three
// values that take effect at once and, on OK, the rest. The settings object
// outlives the window; the window exists only while it is shown. Escape
// and the close box cancel it, also while a test e-mail is under way (whose
// outcome is then not shown). Everything here runs on the UI thread; only
// the test e-mail's conversation runs on a thread of its own.
class COptionsWindow : public QDialog
{
    Q_OBJECT

public:
    COptionsWindow(COptionsDlg& settings, QWidget* parent = nullptr);
    ~COptionsWindow() override;

    // Shows the window modally over `settings`: Accepted after OK.
    static int Run(COptionsDlg& settings, QWidget* parent);

    // Fields into the controls, then both check-box handlers.
    void OnInitDialog();

    // The handlers, as the controls call them.
    void OnPlaySound();
    void OnEnableEmail();
    void OnBrowse();
    void OnPreview();
    void OnTestEmail();
    void OnOK();

    // What the controls hold, and the fields into the controls.
    COptionsDlg::Controls Controls() const;
    void PutFields();

    bool IsSendingTestEmail() const { return m_bTesting; }

    // The file dialog, replaceable for tests: the chosen file's path, or
    // none when the user cancelled.
    struct FileQuestion
    {
        QString title;
        QString folder;
        QString filter;
        QString defaultSuffix;
    };
    using FileChooser = std::function<std::optional<std::string>(QWidget*, const FileQuestion&)>;
    static void SetFileChooserForTests(FileChooser chooser);

    // What sends the test e-mail (on a thread of its own) and says how it
    // went; replaceable so a test can hold it.
    using TestMailSender = std::function<MailDelivery::Report(const MailAlertJob&)>;
    static void SetTestMailSenderForTests(TestMailSender sender);

Q_SIGNALS:
    // The test e-mail's outcome has been shown (or was nothing to show).
    void TestEmailFinished();

private:
    // Shows the settings object's notice, if any, with the focus on its
    // control; true when there was one.
    bool Show(const std::optional<COptionsDlg::Notice>& notice);
    void SetTesting(bool testing);
    void ShowTestResult(const MailDelivery::Report& report, const std::string& recipient);
    // A click on a check box that the values refused: the box and its field
    // show what is stored again.
    void Unclick(QCheckBox* box, int& field, int stored);
    void EnableSoundControls();
    void EnableEmailControls();

    COptionsDlg& m_settings;
    std::unique_ptr<Ui::OptionsDlg> m_ui;
    std::unique_ptr<QSoundEffect> m_sound;
    bool m_bTesting = false;
};

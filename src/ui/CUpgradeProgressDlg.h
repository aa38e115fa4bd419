#pragma once

#include <QDialog>

#include <memory>
#include <string>

namespace Ui {
class UpgradeProgressDlg;
}

// The small window that says what the upgrade check is doing: while the
// page is read, and while an upgrade is downloaded and installed. It has no
// system menu and cannot be closed by the user; the operation that made it
// removes it.
class CUpgradeProgressDlg : public QDialog
{
    Q_OBJECT
public:
    explicit CUpgradeProgressDlg(QWidget* parent);
    ~CUpgradeProgressDlg() override;

    // Control 1076. On the user-interface thread only.
    void SetText(const std::string& text);
    QString Text() const;
    // Shows the window and its text.
    void ShowNormal();

    // The download's progress, from the transfer's worker thread: handed to
    // this window's thread, and dropped if the window is gone by then.
    void SetProgressText(const std::string& text);

    void reject() override;

private:
    std::unique_ptr<Ui::UpgradeProgressDlg> m_ui;
};

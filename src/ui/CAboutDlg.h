#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class AboutDlg;
}

// The About box: the program's icon, its version, a line about what it does
// and the maker's address as a link. It has no handlers of its own: OK closes it.
class CAboutDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget* parent = nullptr);
    ~CAboutDlg() override;

    // The address the link shows and opens.
    static const char* MakerAddress() { return KESTRELLE_MAKER_URL; }

private:
    std::unique_ptr<Ui::AboutDlg> m_ui;
};

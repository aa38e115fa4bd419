#pragma once

#include <QDialog>

#include <memory>
#include <string>

namespace Ui {
class AddSiteDlg;
}
class CPageFetcher;

// The dialog in which the user enters or changes one site: its address and
// the text its page holds while the site is healthy. The caller presets the
// three fields, runs DoModal and, on OK, stores them. Before it accepts an
// entry it fetches the page once and looks for the text, so that a mistyped
// phrase is caught at once; the user may still keep an entry whose text was
// not found.
class CAddSiteDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CAddSiteDlg(QWidget* parent = nullptr);
    ~CAddSiteDlg() override;

    // Puts the fields into the controls and runs the dialog: Accepted or Rejected.
    int DoModal();
    // Puts the fields into the controls (DoModal does it; tests that drive a
    // shown dialog call it themselves).
    void OnInitDialog();

    // The OK button's handler, also the Enter key's.
    void OnOK();
    // Cancel, Escape and the close box. During the page test they stop the
    // fetch; the dialog then ends with the cancel result.
    void reject() override;

    // The verification fetch: the verdict a pass would give the page at
    // `url` for `text` (CheckPass::kTextFound when it holds it).
    std::string CheckPage(const std::string& url, const std::string& text);

    bool IsChecking() const { return m_pFetcher != nullptr; }

    std::string m_URL;
    std::string m_SearchText;
    std::string m_Email; // hidden from the user, handed back as preset

    static constexpr const char* kExampleAddress = "http://www.example.com/";

private:
    void TakeFields();
    void SetChecking(bool checking);

    std::unique_ptr<Ui::AddSiteDlg> m_ui;
    CPageFetcher* m_pFetcher = nullptr; // the running test fetch
    bool m_bCancelled = false;
};

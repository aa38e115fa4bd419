#pragma once

#include <QTreeView>

class SiteListModel;

// The main window's site list: six columns over the core's list, one row
// selected at a time across all columns, red rows for sites found down, the
// row's page as a tooltip over any of its cells, and a click on a heading
// sorting by that column, alternately descending and ascending.
class CSiteListCtrl : public QTreeView
{
    Q_OBJECT

public:
    static constexpr int kColumnWidths[] = {200, 75, 135, 100, 800, 0};
    static constexpr int kTipMaxWidth = 500;

    explicit CSiteListCtrl(QWidget* parent = nullptr);

    // Shows the model with the list's columns, their widths and the hidden
    // "Email Address".
    void SetSiteModel(SiteListModel* model);
    SiteListModel* SiteModel() const { return m_model; }

    // A heading clicked: one direction for all columns, flipped before every
    // sort, so the first sort after start-up is descending.
    void OnColumnClick(int column);
    bool SortAscending() const { return m_bSortAscending; }

    // The tooltip for a point of the viewport: empty below the last row or
    // for a row whose page is empty.
    QString ToolTipAt(const QPoint& viewportPos) const;

    // The selected row, or -1.
    int SelectedRow() const;

protected:
    bool viewportEvent(QEvent* event) override;

private:
    SiteListModel* m_model = nullptr;
    bool m_bSortAscending = true;
};

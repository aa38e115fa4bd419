#pragma once

#include <QTreeView>

#include <vector>

class SiteListModel;

// The main window's site list: six columns over the core's list, one row
// selected at a time across all columns, red rows for sites found down, the
// row's page as a tooltip over any of its cells, and a click on a heading
// sorting by that column, alternately descending and ascending.
class CSiteListCtrl : public QTreeView
{
    Q_OBJECT

public:
    // The designed widths, in pixels of an 8-point MS Sans Serif: what the
    // columns are scaled from, keeping their order and proportions.
    static constexpr int kColumnWidths[] = {200, 75, 135, 100, 800, 0};
    static constexpr int kTipMaxWidth = 500;

    explicit CSiteListCtrl(QWidget* parent = nullptr);

    // Shows the model with the list's columns, their widths and the hidden
    // "Email Address".
    void SetSiteModel(SiteListModel* model);

    // The widths of the visible columns for the view's present fonts: the
    // designed widths scaled to the font, each at least wide enough for its
    // heading and for the longest text the column shows for every site (a
    // full time stamp, "CHECKING").
    std::vector<int> FittedWidths() const;
    // The widths of the columns before "Email Address", as shown now.
    std::vector<int> ColumnWidths() const;
    // Puts back widths the user had dragged; a list of another length, or a
    // width of 0 or less, leaves the fitted widths as they are.
    void SetColumnWidths(const std::vector<int>& widths);

Q_SIGNALS:
    // The user dragged a column's edge (not sent for widths set by code).
    void ColumnWidthsChanged();

public:
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
    void ApplyWidths(const std::vector<int>& widths);

    SiteListModel* m_model = nullptr;
    bool m_bSortAscending = true;
    bool m_settingWidths = false;
};

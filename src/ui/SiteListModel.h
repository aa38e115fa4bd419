#pragma once

#include "monitor/SiteList.h"

#include <QAbstractTableModel>
#include <QColor>
#include <QIcon>

#include <array>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

// The site list as the main window's list view sees it. It holds no entries
// of its own: every cell is read from the core's list when it is painted,
// and only as much of a page as a cell can show. Changes a check pass makes
// on its worker thread name the entry; they are gathered and reach the view
// on the user-interface thread as a few batched dataChanged signals, so a
// pass over a thousand sites never floods the window.
class SiteListModel : public QAbstractTableModel, private SiteList::Observer
{
    Q_OBJECT

public:
    // The row's mark, for the painting of red rows.
    static constexpr int kMarkRole = Qt::UserRole;
    static constexpr std::array<const char*, SiteEntry::kColumnCount> kHeadings{
        "URL", "Status", "Last Check", "Text to Search For", "Last Response", "Email Address"};
    static const QColor kErrorBackground;
    static const QColor kErrorText;
    // A cell never reads more of a field than this; a page's first line or
    // so is all a cell can show.
    static constexpr std::size_t kCellBytes = 512;
    // A tooltip keeps this many characters of the page, then a single ".".
    static constexpr std::size_t kTipCharacters = 78;

    // The list must outlive the model.
    explicit SiteListModel(SiteList& list, QObject* parent = nullptr);
    ~SiteListModel() override;

    SiteList& List() const { return m_list; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // Reorders the core's list by one column's text; selections and marks
    // follow their entries.
    void SortByColumn(int column, bool ascending);

    // Below zero, zero or above zero as `a` sorts before, with or after `b`
    // when letter case is ignored, for any letters of any script. Bytes that
    // are not UTF-8 count as the Latin-1 letters they are in Windows text.
    static int CompareText(std::string_view a, std::string_view b);

    // The tooltip for a page text: empty for an empty page, the text itself
    // up to kTipCharacters characters, otherwise its first kTipCharacters
    // characters and ".".
    static std::string TipText(std::string_view response);
    // The tip's first line: "ERROR: connection refused (0.01 s)"; empty
    // while the row has no check of this run or is being checked.
    static std::string CheckLine(const std::string& status, const std::string& reason,
                                 double seconds);

    // Text of the core (UTF-8, or Windows single-byte text from an old data
    // file) as Qt shows it.
    static QString ToQString(std::string_view text);

private:
    void RowsAboutToBeInserted(int first, int last) override;
    void RowsInserted(int first, int last) override;
    void RowsAboutToBeRemoved(int first, int last) override;
    void RowsRemoved(int first, int last) override;
    void AboutToSort() override;
    void Sorted(const std::vector<int>& newRowOf) override;
    void AboutToReset() override;
    void Reset() override;
    void EntryChanged(EntryId id, unsigned columns) override;

    void FlushChanges();

    SiteList& m_list;
    // The row count as the view was last told it; the list's own count can
    // run ahead of it between a change and its announcement.
    int m_rowCount = 0;
    QIcon m_rowIcon;
    QModelIndexList m_sortingIndexes;

    std::mutex m_pendingMutex;
    std::unordered_map<EntryId, unsigned> m_pending;
    bool m_flushPosted = false;
};

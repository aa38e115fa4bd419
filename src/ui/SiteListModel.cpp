#include "ui/SiteListModel.h"

#include "monitor/CheckPass.h"
#include "net/FetchAddress.h"

#include "platform/Utf8Text.h"
#include "ui/UiThread.h"

#include <QChar>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

const QColor SiteListModel::kErrorBackground(255, 180, 180);
const QColor SiteListModel::kErrorText(0, 0, 0);

namespace {

constexpr unsigned kAllColumns = (1u << SiteEntry::kColumnCount) - 1;

// One character at `at`: its code point and its length in bytes. A byte
// that starts no well-formed sequence stands for itself, as Latin-1.
char32_t Decode(std::string_view text, std::size_t at, std::size_t& length)
{
    const std::string_view rest = text.substr(at);
    length = Utf8Text::SequenceLength(rest);
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(rest[i]); };
    switch (length) {
    case 2:
        return char32_t(byte(0) & 0x1F) << 6 | (byte(1) & 0x3F);
    case 3:
        return char32_t(byte(0) & 0x0F) << 12 | char32_t(byte(1) & 0x3F) << 6 | (byte(2) & 0x3F);
    case 4:
        return char32_t(byte(0) & 0x07) << 18 | char32_t(byte(1) & 0x3F) << 12 |
               char32_t(byte(2) & 0x3F) << 6 | (byte(3) & 0x3F);
    default:
        length = 1;
        return byte(0);
    }
}

// How many bytes the two texts share from their start.
std::size_t CommonPrefix(std::string_view a, std::string_view b)
{
    const std::size_t n = std::min(a.size(), b.size());
    std::size_t at = 0;
    for (std::size_t block : {std::size_t{4096}, std::size_t{64}})
        while (at + block <= n && std::memcmp(a.data() + at, b.data() + at, block) == 0)
            at += block;
    while (at < n && a[at] == b[at])
        ++at;
    return at;
}

bool ContinuationAt(std::string_view text, std::size_t at)
{
    return at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80;
}

} // namespace

SiteListModel::SiteListModel(SiteList& list, QObject* parent)
    : QAbstractTableModel(parent), m_list(list), m_rowIcon(QStringLiteral(":/icons/site.svg"))
{
    m_rowCount = m_list.RowCount();
    m_list.AddObserver(this);
    // Rows that came between the count and the observer are told as a reset.
    if (m_list.RowCount() != m_rowCount) {
        beginResetModel();
        m_rowCount = m_list.RowCount();
        endResetModel();
    }
}

SiteListModel::~SiteListModel()
{
    // Returns only once no callback into this model runs or can start; a
    // flush still queued is dropped with the object.
    m_list.RemoveObserver(this);
}

int SiteListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_rowCount;
}

int SiteListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : SiteEntry::kColumnCount;
}

QVariant SiteListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_rowCount)
        return {};
    const int row = index.row();
    switch (role) {
    case Qt::DisplayRole: {
        // A page's line breaks show as blanks: a cell is one line.
        std::string text = m_list.TextPrefix(row, index.column(), kCellBytes);
        std::replace_if(
            text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r' || c == '\t'; },
            ' ');
        // A password in the address is kept for the server, never shown.
        if (index.column() == SiteEntry::Url)
            text = FetchAddress::Shown(text);
        // Why a site is down shows in its Status cell, readable without
        // hovering; so does news of a site that is up ("certificate expires
        // in 6 days"), but not the plain "text found".
        if (index.column() == SiteEntry::Status &&
            (text == CheckPass::kError || text == CheckPass::kOk)) {
            const std::string reason = m_list.Reason(row);
            if (!reason.empty() && !(text == CheckPass::kOk && reason == CheckPass::kTextFound))
                text += ": " + reason;
        }
        return ToQString(text);
    }
    case Qt::DecorationRole:
        if (index.column() == SiteEntry::Url)
            return m_rowIcon;
        return {};
    case Qt::BackgroundRole:
        if (m_list.Mark(row) == SiteEntry::kErrorMark)
            return kErrorBackground;
        return {};
    case Qt::ForegroundRole:
        if (m_list.Mark(row) == SiteEntry::kErrorMark)
            return kErrorText;
        return {};
    case Qt::ToolTipRole: {
        // Whatever cell the pointer is on, the tip is the row's page. Enough
        // bytes for kTipCharacters + 1 characters of any length.
        const std::string start =
            m_list.TextPrefix(row, SiteEntry::LastResponse, (kTipCharacters + 1) * 4);
        const std::string tip = TipText(start);
        const std::string check =
            CheckLine(m_list.Text(row, SiteEntry::Status), m_list.Reason(row), m_list.Seconds(row));
        if (tip.empty() && check.empty())
            return {};
        return ToQString(check.empty() ? tip : tip.empty() ? check : check + "\n" + tip);
    }
    case kMarkRole:
        return m_list.Mark(row);
    default:
        return {};
    }
}

QVariant SiteListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= SiteEntry::kColumnCount)
        return {};
    if (role == Qt::DisplayRole)
        return QString::fromLatin1(kHeadings[static_cast<std::size_t>(section)]);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    return {};
}

void SiteListModel::SortByColumn(int column, bool ascending)
{
    if (column < 0 || column >= SiteEntry::kColumnCount)
        return;
    // The list keeps equal entries in their order.
    m_list.Sort([column, ascending](const SiteEntry& a, const SiteEntry& b) {
        const int order = CompareText(a.field(column), b.field(column));
        return ascending ? order < 0 : order > 0;
    });
}

int SiteListModel::CompareText(std::string_view a, std::string_view b)
{
    std::size_t i = 0, j = 0;
    for (;;) {
        // Runs of identical bytes need no folding; pages often share long
        // stretches, and skipping them at memcmp's speed keeps a sort by
        // page text quick.
        std::size_t same = CommonPrefix(a.substr(i), b.substr(j));
        // The difference may lie inside a character: start at its first byte.
        for (int back = 0;
             back < 3 && same > 0 && (ContinuationAt(a, i + same) || ContinuationAt(b, j + same));
             ++back)
            --same;
        i += same;
        j += same;
        if (i >= a.size() || j >= b.size())
            return (i < a.size()) - (j < b.size());
        std::size_t lengthA = 0, lengthB = 0;
        const char32_t ca = QChar::toLower(Decode(a, i, lengthA));
        const char32_t cb = QChar::toLower(Decode(b, j, lengthB));
        if (ca != cb)
            return ca < cb ? -1 : 1;
        i += lengthA;
        j += lengthB;
    }
}

std::string SiteListModel::CheckLine(const std::string& status, const std::string& reason,
                                     double seconds)
{
    if (reason.empty() || (status != CheckPass::kOk && status != CheckPass::kError))
        return {};
    char time[32];
    std::snprintf(time, sizeof time, "%.2f", seconds < 0 ? 0.0 : seconds);
    return status + ": " + reason + " (" + time + " s)";
}

std::string SiteListModel::TipText(std::string_view response)
{
    std::size_t bytes = 0, characters = 0;
    while (bytes < response.size() && characters < kTipCharacters) {
        const std::size_t length = Utf8Text::SequenceLength(response.substr(bytes));
        bytes += length ? length : 1;
        ++characters;
    }
    if (bytes >= response.size())
        return std::string(response);
    // Cut and marked with "..", of which an 80-character tip keeps one.
    return std::string(response.substr(0, bytes)) + ".";
}

QString SiteListModel::ToQString(std::string_view text)
{
    QString out;
    out.reserve(static_cast<qsizetype>(text.size()));
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t length = 0;
        const char32_t code = Decode(text, at, length);
        if (QChar::requiresSurrogates(code)) {
            out += QChar(QChar::highSurrogate(code));
            out += QChar(QChar::lowSurrogate(code));
        } else {
            out += QChar(static_cast<char16_t>(code));
        }
        at += length;
    }
    return out;
}

void SiteListModel::RowsAboutToBeInserted(int first, int last)
{
    // Only the user-interface thread changes the rows' structure.
    KESTRELLE_ASSERT_UI_THREAD();
    beginInsertRows(QModelIndex(), first, last);
}

void SiteListModel::RowsInserted(int first, int last)
{
    m_rowCount += last - first + 1;
    endInsertRows();
}

void SiteListModel::RowsAboutToBeRemoved(int first, int last)
{
    KESTRELLE_ASSERT_UI_THREAD();
    beginRemoveRows(QModelIndex(), first, last);
}

void SiteListModel::RowsRemoved(int first, int last)
{
    m_rowCount -= last - first + 1;
    endRemoveRows();
}

void SiteListModel::AboutToSort()
{
    KESTRELLE_ASSERT_UI_THREAD();
    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    m_sortingIndexes = persistentIndexList();
}

void SiteListModel::Sorted(const std::vector<int>& newRowOf)
{
    QModelIndexList moved;
    moved.reserve(m_sortingIndexes.size());
    for (const QModelIndex& old : m_sortingIndexes) {
        const auto oldRow = static_cast<std::size_t>(old.row());
        moved.append(oldRow < newRowOf.size() ? index(newRowOf[oldRow], old.column())
                                              : QModelIndex());
    }
    changePersistentIndexList(m_sortingIndexes, moved);
    m_sortingIndexes.clear();
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void SiteListModel::AboutToReset()
{
    KESTRELLE_ASSERT_UI_THREAD();
    beginResetModel();
}

void SiteListModel::Reset()
{
    m_rowCount = m_list.RowCount();
    endResetModel();
}

void SiteListModel::EntryChanged(EntryId id, unsigned columns)
{
    // Any thread: remember the entry, and ask the user-interface thread for
    // one flush however many changes come before it runs.
    std::lock_guard lock(m_pendingMutex);
    m_pending[id] |= columns;
    if (m_flushPosted)
        return;
    m_flushPosted = true;
    RunOnUi(this, [this] { FlushChanges(); });
}

void SiteListModel::FlushChanges()
{
    KESTRELLE_ASSERT_UI_THREAD();
    std::unordered_map<EntryId, unsigned> pending;
    {
        std::lock_guard lock(m_pendingMutex);
        pending.swap(m_pending);
        m_flushPosted = false;
    }
    // One signal for the block of rows and columns that changed: the view
    // repaints only what of it is on screen.
    int top = INT_MAX, bottom = -1;
    unsigned columns = 0;
    for (const auto& [id, changed] : pending) {
        const int row = m_list.RowOf(id);
        if (row < 0 || row >= m_rowCount)
            continue; // removed meanwhile
        top = std::min(top, row);
        bottom = std::max(bottom, row);
        // A new mark recolours the whole row.
        columns |= (changed & SiteList::Observer::kMarkBit) ? kAllColumns : changed;
    }
    if (bottom < 0)
        return;
    int left = 0, right = SiteEntry::kColumnCount - 1;
    while (left < right && !(columns & (1u << left)))
        ++left;
    while (right > left && !(columns & (1u << right)))
        --right;
    Q_EMIT dataChanged(index(top, left), index(bottom, right));
}

#include "ui/CSiteListCtrl.h"

#include "ui/SiteListModel.h"

#include <QHeaderView>
#include <QHelpEvent>
#include <QItemSelectionModel>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QToolTip>

#include <algorithm>

namespace {

// White on this red has a contrast ratio of about 5.9 to 1.
const QColor kSelectedErrorBackground(190, 30, 45);

// A red row that is selected turns deep red with white letters: it still
// reads as down, stands apart from the light red of the rows around it and
// keeps its text readable (a darkened pink with black text, as styles blend
// it, turned a muddy mauve).
class SiteRowDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index.data(SiteListModel::kMarkRole).toInt() != SiteEntry::kErrorMark)
            return;
        for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
            option->palette.setColor(group, QPalette::Highlight, kSelectedErrorBackground);
            option->palette.setColor(group, QPalette::HighlightedText, Qt::white);
        }
    }
};

} // namespace

CSiteListCtrl::CSiteListCtrl(QWidget* parent) : QTreeView(parent)
{
    setRootIsDecorated(false);
    setItemsExpandable(false);
    // Every row is one line high: the view never measures a row's text.
    setUniformRowHeights(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setAllColumnsShowFocus(true);
    setIconSize(QSize(16, 16));
    setTextElideMode(Qt::ElideRight);
    setItemDelegate(new SiteRowDelegate(this));
    // Sorting is ours: the header only reports the click. (Switching the
    // view's own sorting off also makes headings unclickable, so first.)
    setSortingEnabled(false);
    header()->setStretchLastSection(false);
    header()->setSectionsClickable(true);
    header()->setSectionsMovable(false);
    header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    connect(header(), &QHeaderView::sectionClicked, this, &CSiteListCtrl::OnColumnClick);
    connect(header(), &QHeaderView::sectionResized, this, [this] {
        if (!m_settingWidths)
            Q_EMIT ColumnWidthsChanged();
    });
}

void CSiteListCtrl::SetSiteModel(SiteListModel* model)
{
    m_model = model;
    setModel(model);
    setColumnHidden(SiteEntry::EmailAddress, true);
    ApplyWidths(FittedWidths());
}

std::vector<int> CSiteListCtrl::FittedWidths() const
{
    // Texts a cell must show whole whatever the site: its status with a
    // usual reason for a down site, and a time stamp with the widest hour,
    // minute and second.
    static const char* const kLongestCell[] = {"", "ERROR: HTTP 503 Service Unavailable",
                                               "12/28/2026 08:48:58 PM", "", ""};
    // The design's font averages 5 pixels a character at 96 dots per inch.
    constexpr double kDesignCharWidth = 5.0;
    const QFontMetrics cell(font());
    const QFontMetrics heading(header()->font());
    const double scale = std::max(1.0, cell.averageCharWidth() / kDesignCharWidth);
    // Room the style leaves around a text: a cell's margins and a heading's
    // margins plus its sort arrow.
    const int cellMargin =
        2 * (style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1) + 4;
    const int headingMargin = 2 * style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, this) +
                              style()->pixelMetric(QStyle::PM_HeaderMarkSize, nullptr, this) + 4;
    std::vector<int> widths;
    for (int column = 0; column < SiteEntry::EmailAddress; ++column) {
        const QString title =
            m_model ? m_model->headerData(column, Qt::Horizontal).toString() : QString();
        int width = static_cast<int>(kColumnWidths[column] * scale + 0.5);
        width = std::max(width, heading.horizontalAdvance(title) + headingMargin);
        width = std::max(width, cell.horizontalAdvance(QString::fromLatin1(kLongestCell[column])) +
                                    cellMargin);
        widths.push_back(width);
    }
    return widths;
}

std::vector<int> CSiteListCtrl::ColumnWidths() const
{
    std::vector<int> widths;
    for (int column = 0; column < SiteEntry::EmailAddress; ++column)
        widths.push_back(columnWidth(column));
    return widths;
}

void CSiteListCtrl::SetColumnWidths(const std::vector<int>& widths)
{
    if (widths.size() != static_cast<std::size_t>(SiteEntry::EmailAddress) ||
        std::any_of(widths.begin(), widths.end(), [](int w) { return w <= 0; }))
        return;
    ApplyWidths(widths);
}

void CSiteListCtrl::ApplyWidths(const std::vector<int>& widths)
{
    m_settingWidths = true;
    for (std::size_t column = 0; column < widths.size(); ++column)
        setColumnWidth(static_cast<int>(column), widths[column]);
    m_settingWidths = false;
}

void CSiteListCtrl::OnColumnClick(int column)
{
    if (!m_model)
        return;
    m_bSortAscending = !m_bSortAscending;
    m_model->SortByColumn(column, m_bSortAscending);
}

QString CSiteListCtrl::ToolTipAt(const QPoint& viewportPos) const
{
    const QModelIndex index = indexAt(viewportPos);
    if (!index.isValid())
        return {};
    return index.data(Qt::ToolTipRole).toString();
}

int CSiteListCtrl::SelectedRow() const
{
    if (!selectionModel())
        return -1;
    const QModelIndexList rows = selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

bool CSiteListCtrl::viewportEvent(QEvent* event)
{
    if (event->type() != QEvent::ToolTip)
        return QTreeView::viewportEvent(event);
    const auto* help = static_cast<QHelpEvent*>(event);
    const QString tip = ToolTipAt(help->pos());
    if (tip.isEmpty()) {
        QToolTip::hideText();
        event->ignore();
        return true;
    }
    // A page is shown as the characters it holds, never as markup, in lines
    // of at most 500 pixels.
    const QFontMetrics metrics(QToolTip::font());
    int natural = 0;
    for (const QString& line : tip.split(QLatin1Char('\n')))
        natural = std::max(natural, metrics.horizontalAdvance(line));
    const QString shown =
        QStringLiteral("<table width=\"%1\" cellspacing=\"0\" cellpadding=\"0\"><tr>"
                       "<td style=\"white-space:pre-wrap\">%2</td></tr></table>")
            .arg(std::min(natural + 2, kTipMaxWidth))
            .arg(tip.toHtmlEscaped());
    QToolTip::showText(help->globalPos(), shown, viewport(), visualRect(indexAt(help->pos())));
    return true;
}

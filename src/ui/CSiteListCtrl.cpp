#include "ui/CSiteListCtrl.h"

#include "ui/SiteListModel.h"

#include <QHeaderView>
#include <QHelpEvent>
#include <QItemSelectionModel>
#include <QStyledItemDelegate>
#include <QToolTip>

#include <algorithm>

namespace {

// A red row that is selected stays red, a shade darker, so the user sees
// both that the site is down and that its row is the selected one.
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
            option->palette.setColor(group, QPalette::Highlight,
                                     SiteListModel::kErrorBackground.darker(135));
            option->palette.setColor(group, QPalette::HighlightedText, SiteListModel::kErrorText);
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
}

void CSiteListCtrl::SetSiteModel(SiteListModel* model)
{
    m_model = model;
    setModel(model);
    for (int column = 0; column < SiteEntry::kColumnCount; ++column)
        setColumnWidth(column, kColumnWidths[column]);
    setColumnHidden(SiteEntry::EmailAddress, true);
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

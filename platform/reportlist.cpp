#include "platform/reportlist.h"

#include "platform/imagelist.h"
#include "platform/mousecodes.h"

#include <QApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QToolTip>
#include <QWheelEvent>
#include <algorithm>
#include <numeric>

namespace platform {

namespace {
constexpr int Columns = 1 + ReportListModel::SubItems;
} // namespace

ReportListModel::ReportListModel(QObject* parent) : QAbstractTableModel(parent) {}

void ReportListModel::setHeaders(const QStringList& headers)
{
    m_headers = headers;
    Q_EMIT headerDataChanged(Qt::Horizontal, 0, Columns - 1);
}

void ReportListModel::setCheckboxes(bool on)
{
    if (m_checkboxes == on)
        return;
    m_checkboxes = on;
    if (!m_rows.isEmpty())
        Q_EMIT dataChanged(index(0, 0), index(count() - 1, 0), {Qt::CheckStateRole});
}

void ReportListModel::clear()
{
    beginResetModel();
    m_rows.clear();
    m_rows.squeeze();
    endResetModel();
}

int ReportListModel::add(const QString& text, int smallIcon)
{
    const int n = count();
    beginInsertRows({}, n, n);
    Row r;
    r.text = text;
    r.smallIcon = smallIcon;
    m_rows.append(std::move(r));
    endInsertRows();
    return n + 1;
}

void ReportListModel::append(QVector<Row>&& rows)
{
    if (rows.isEmpty())
        return;
    const int n = count();
    beginInsertRows({}, n, n + static_cast<int>(rows.size()) - 1);
    if (m_rows.isEmpty())
        m_rows = std::move(rows);
    else
        m_rows.append(std::move(rows));
    endInsertRows();
}

const ReportListModel::Row& ReportListModel::row(int index) const
{
    return m_rows.at(index - 1);
}

void ReportListModel::removeAt(int index)
{
    if (index < 1 || index > count())
        return;
    beginRemoveRows({}, index - 1, index - 1);
    m_rows.removeAt(index - 1);
    endRemoveRows();
}

void ReportListModel::cellChanged(int index, int column, const QList<int>& roles)
{
    const QModelIndex i = this->index(index - 1, column);
    Q_EMIT dataChanged(i, i, roles);
}

void ReportListModel::setText(int index, const QString& text)
{
    m_rows[index - 1].text = text;
    cellChanged(index, 0, {Qt::DisplayRole});
}

void ReportListModel::setSmallIcon(int index, int icon)
{
    m_rows[index - 1].smallIcon = icon;
    cellChanged(index, 0, {Qt::DecorationRole});
}

void ReportListModel::setChecked(int index, bool checked)
{
    m_rows[index - 1].checked = checked;
    cellChanged(index, 0, {Qt::CheckStateRole});
}

void ReportListModel::setSubText(int index, int sub, const QString& text)
{
    Row& r = m_rows[index - 1];
    if (r.sub[sub - 1] == text)
        return;
    r.sub[sub - 1] = text;
    cellChanged(index, sub, {Qt::DisplayRole});
}

void ReportListModel::setSubIcon(int index, int sub, int icon)
{
    Row& r = m_rows[index - 1];
    if (r.subIcon[sub - 1] == icon)
        return;
    r.subIcon[sub - 1] = icon;
    cellChanged(index, sub, {Qt::DecorationRole});
}

void ReportListModel::setSubToolTip(int index, int sub, const QString& tip)
{
    m_rows[index - 1].subToolTip[sub - 1] = tip;
    cellChanged(index, sub, {Qt::ToolTipRole});
}

void ReportListModel::setExtraColumns(const ExtraColumns* extra)
{
    if (extra == m_extra)
        return;
    if (const int old = m_extra ? m_extra->extraColumnCount() : 0; old > 0) {
        beginRemoveColumns({}, Columns, Columns + old - 1);
        m_extra = nullptr;
        endRemoveColumns();
    }
    m_extra = nullptr;
    if (const int added = extra ? extra->extraColumnCount() : 0; added > 0) {
        beginInsertColumns({}, Columns, Columns + added - 1);
        m_extra = extra;
        endInsertColumns();
    }
    m_extra = extra;
}

void ReportListModel::extraChanged(int index)
{
    if (!m_extra || m_rows.isEmpty() || index < 0 || index > count())
        return;
    const int last = columnCount() - 1;
    // The row's background and tool tip may change with it, so every column is told.
    if (index == 0)
        Q_EMIT dataChanged(this->index(0, 0), this->index(count() - 1, last));
    else
        Q_EMIT dataChanged(this->index(index - 1, 0), this->index(index - 1, last));
}

int ReportListModel::indexOfKey(quint64 key) const
{
    for (int i = 0; i < count(); ++i) {
        if (m_rows.at(i).key == key)
            return i + 1;
    }
    return 0;
}

void ReportListModel::setHidden(int index, bool hidden)
{
    if (index < 1 || index > count())
        return;
    m_rows[index - 1].hidden = hidden;
}

void ReportListModel::setSortAs(int column, SortAs how)
{
    if (column >= 0 && column < Columns)
        m_sortAs[column] = how;
}

void ReportListModel::setSortKeyOf(int column, SortKeyOf keyOf)
{
    if (column < 0 || column >= Columns)
        return;
    m_sortAs[column] = keyOf ? SortAs::Key : SortAs::Text;
    m_sortKeyOf[column] = std::move(keyOf);
}

namespace {

// What a cell sorts by: numbers (times) first, by value, then the other texts; or the owner's key.
struct SortKey
{
    bool numeric = false;
    double value = 0;
    QString text;
    bool keyed = false;
    QByteArray key;
};

SortKey sortKeyOf(const QString& text, ReportListModel::SortAs how, const ReportListModel::SortKeyOf& keyOf)
{
    SortKey key;
    if (how == ReportListModel::SortAs::Key && keyOf) {
        key.keyed = true;
        key.key = keyOf(text);
        return key;
    }
    if (how == ReportListModel::SortAs::Number) {
        bool ok = false;
        const double value = text.trimmed().toDouble(&ok);
        if (ok) {
            key.numeric = true;
            key.value = value;
            return key;
        }
    }
    key.text = text;
    return key;
}

bool lessThan(const SortKey& a, const SortKey& b)
{
    if (a.keyed)
        return a.key < b.key;
    if (a.numeric != b.numeric)
        return a.numeric;
    if (a.numeric)
        return a.value < b.value;
    return QString::compare(a.text, b.text, Qt::CaseInsensitive) < 0;
}

} // namespace

void ReportListModel::sortByColumn(int column, Qt::SortOrder direction)
{
    if (column < 0 || column >= columnCount() || m_rows.size() < 2)
        return;
    const auto cell = [column](const Row& r) -> const QString& { return column == 0 ? r.text : r.sub[column - 1]; };
    const bool down = direction == Qt::DescendingOrder;

    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<int> order(m_rows.size());
    std::iota(order.begin(), order.end(), 0);
    if (column >= Columns) {
        // Asked once per row, not once per comparison: the supplier may have to look the key up.
        std::vector<double> keys(m_rows.size());
        for (std::size_t i = 0; i < keys.size(); ++i)
            keys[i] = m_extra->extraSortKey(m_rows.at(qsizetype(i)).key, column - Columns);
        std::stable_sort(order.begin(), order.end(),
                         [&](int a, int b) { return down ? keys[b] < keys[a] : keys[a] < keys[b]; });
    } else {
        // Worked out once per row: parsing an address in every comparison would cost more than
        // the sort itself.
        std::vector<SortKey> keys(m_rows.size());
        for (std::size_t i = 0; i < keys.size(); ++i)
            keys[i] = sortKeyOf(cell(m_rows.at(qsizetype(i))), m_sortAs[column], m_sortKeyOf[column]);
        std::stable_sort(order.begin(), order.end(),
                         [&](int a, int b) { return down ? lessThan(keys[b], keys[a]) : lessThan(keys[a], keys[b]); });
    }

    QVector<Row> sorted;
    sorted.reserve(m_rows.size());
    std::vector<int> newPos(m_rows.size());
    for (int i = 0; i < static_cast<int>(order.size()); ++i) {
        sorted.append(std::move(m_rows[order[i]]));
        newPos[order[i]] = i;
    }
    m_rows = std::move(sorted);

    // Keep selection and current row on the same entries.
    const QModelIndexList from = persistentIndexList();
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex& i : from)
        to.append(index(newPos[i.row()], i.column()));
    changePersistentIndexList(from, to);
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

int ReportListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : count();
}

int ReportListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : Columns + (m_extra ? m_extra->extraColumnCount() : 0);
}

QVariant ReportListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= count())
        return {};
    const Row& r = m_rows.at(index.row());
    const int c = index.column();
    if (m_extra) {
        if (c >= Columns) {
            const QVariant own = m_extra->extraData(r.key, c - Columns, role);
            return own.isValid() || role != Qt::ToolTipRole ? own : m_extra->rowData(r.key, role);
        }
        if (role == Qt::BackgroundRole)
            return m_extra->rowData(r.key, role);
        if (role == Qt::ToolTipRole && (c == 0 || r.subToolTip[c - 1].isEmpty()))
            return m_extra->rowData(r.key, role);
    }
    switch (role) {
    case Qt::DisplayRole:
        return c == 0 ? r.text : r.sub[c - 1];
    case Qt::DecorationRole: {
        const int icon = c == 0 ? r.smallIcon : r.subIcon[c - 1];
        if (icon <= 0 || !m_images)
            return {};
        return m_images->picture(icon);
    }
    case Qt::CheckStateRole:
        if (c == 0 && m_checkboxes)
            return r.checked ? Qt::Checked : Qt::Unchecked;
        return {};
    case Qt::ToolTipRole:
        if (c > 0 && !r.subToolTip[c - 1].isEmpty())
            return r.subToolTip[c - 1];
        return {};
    default:
        return {};
    }
}

bool ReportListModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || index.column() != 0 || role != Qt::CheckStateRole || !m_checkboxes)
        return false;
    m_rows[index.row()].checked = value.toInt() == Qt::Checked;
    Q_EMIT dataChanged(index, index, {Qt::CheckStateRole});
    return true;
}

Qt::ItemFlags ReportListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (index.column() == 0 && m_checkboxes)
        f |= Qt::ItemIsUserCheckable;
    return f;
}

QVariant ReportListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0)
        return {};
    if (section >= Columns) {
        if (!m_extra || section >= columnCount())
            return {};
        if (role == Qt::DisplayRole)
            return m_extra->extraHeader(section - Columns);
        if (role == Qt::TextAlignmentRole)
            return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
        return {};
    }
    if (section >= m_headers.size())
        return {};
    if (role == Qt::DisplayRole)
        return m_headers.at(section);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    return {};
}

namespace {

// Draws the cells as usual, and on a dark palette outlines the check boxes in the text colour:
// styles shade the box from the window colour, and on dark rows an unticked box all but vanishes.
class CellDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::paint(painter, option, index);
        if (!index.data(Qt::CheckStateRole).isValid() || option.palette.color(QPalette::Base).lightness() >= 128)
            return;
        QStyleOptionViewItem opt(option);
        initStyleOption(&opt, index);
        const QStyle* style = opt.widget ? opt.widget->style() : QApplication::style();
        const QRect box = style->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &opt, opt.widget);
        QColor outline = opt.palette.color(QPalette::Text);
        outline.setAlpha(170);
        painter->save();
        painter->setPen(QPen(outline, 1));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(box.adjusted(0, 0, -1, -1));
        painter->restore();
    }
};

} // namespace

ReportList::ReportList(QWidget* parent) : QTreeView(parent), m_model(new ReportListModel(this))
{
    setModel(m_model);
    setItemDelegate(new CellDelegate(this));
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(false);
    setIconSize(QSize(16, 16));
    header()->setSectionsClickable(true);
    header()->setSectionsMovable(false);
    // The last column takes what is left, so a wide window shows no empty strip in the header.
    header()->setStretchLastSection(true);
    header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    connect(header(), &QHeaderView::sectionClicked, this, [this](int section) { Q_EMIT columnClicked(section + 1); });
    connect(header(), &QHeaderView::sectionResized, this, [this](int section, int, int size) {
        if (size > 0)
            m_keptWidths.insert(section, size);
    });
    // Only the user's own use of the scroll bars triggers actions; scrollTo() does not.
    for (QScrollBar* bar : {verticalScrollBar(), horizontalScrollBar()})
        connect(bar, &QAbstractSlider::actionTriggered, this, [this] { Q_EMIT userInteracted(); });
    // Row hiding lives in the view; re-apply it whenever rows are reordered or replaced.
    connect(m_model, &QAbstractItemModel::layoutChanged, this, [this] {
        if (!m_anyHidden)
            return;
        for (int i = 1; i <= count(); ++i)
            setRowHidden(i - 1, {}, m_model->row(i).hidden);
    });
}

void ReportList::setImageList(const ImageList* images)
{
    m_model->setImageList(images);
    viewport()->update();
}

void ReportList::setColumns(const QStringList& captions, const QVector<int>& widths)
{
    m_model->setHeaders(captions);
    for (int i = 0; i < widths.size(); ++i)
        setColumnWidth(i, widths.at(i));
}

void ReportList::setColumnWidth(int column, int width)
{
    m_sizedWidths.insert(column, width);
    QTreeView::setColumnWidth(column, width);
}

int ReportList::keptColumnWidth(int column) const
{
    if (!isColumnHidden(column))
        return columnWidth(column);
    return m_keptWidths.value(column, header()->defaultSectionSize());
}

int ReportList::widthForAllColumns() const
{
    const QHeaderView* h = header();
    int last = -1;
    for (int i = 0; i < h->count(); ++i) {
        if (!h->isSectionHidden(i))
            last = i;
    }
    int width = 0;
    for (int i = 0; i < last; ++i)
        width += h->isSectionHidden(i) ? 0 : h->sectionSize(i);
    // The last column stretches to what is left: it needs room for its header, and for the
    // width the program sized it to so that its values show whole.
    if (last >= 0)
        width += std::max({h->sectionSizeHint(last), h->minimumSectionSize(), m_sizedWidths.value(last, 0)});
    return width + 2 * frameWidth() + verticalScrollBar()->sizeHint().width();
}

void ReportList::setKeptColumnWidth(int column, int width)
{
    if (width > 0)
        m_keptWidths.insert(column, width);
    header()->resizeSection(column, width);
}

void ReportList::clear()
{
    m_model->clear();
}

void ReportList::removeAt(int index)
{
    m_model->removeAt(index);
}

void ReportList::select(int index)
{
    if (index < 1 || index > count())
        return;
    const QModelIndex i = m_model->index(index - 1, 0);
    selectionModel()->setCurrentIndex(i, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

int ReportList::selectedIndex() const
{
    const QModelIndex current = selectionModel()->currentIndex();
    if (current.isValid() && selectionModel()->isRowSelected(current.row(), current.parent()))
        return current.row() + 1;
    const QVector<int> rows = selectedRowNumbers();
    return rows.isEmpty() ? 0 : rows.first();
}

QVector<int> ReportList::selectedRowNumbers() const
{
    QVector<int> rows;
    for (const QModelIndex& i : selectionModel()->selectedRows())
        rows.append(i.row() + 1);
    std::sort(rows.begin(), rows.end());
    return rows;
}

void ReportList::ensureVisible(int index)
{
    if (index < 1 || index > count())
        return;
    scrollTo(m_model->index(index - 1, 0), QAbstractItemView::EnsureVisible);
}

void ReportList::setGridLines(bool on)
{
    m_gridLines = on;
    viewport()->update();
}

void ReportList::setSorted(bool on)
{
    m_sorted = on;
    header()->setSortIndicatorShown(on);
    if (!on)
        return;
    header()->setSortIndicator(m_sortKey, m_sortOrder);
    m_model->sortByColumn(m_sortKey, m_sortOrder);
}

void ReportList::setRowHiddenAt(int index, bool hidden)
{
    if (index < 1 || index > count())
        return;
    m_model->setHidden(index, hidden);
    setRowHidden(index - 1, {}, hidden);
    if (hidden)
        m_anyHidden = true;
}

bool ReportList::isRowHiddenAt(int index) const
{
    return index >= 1 && index <= count() && m_model->row(index).hidden;
}

void ReportList::mousePressEvent(QMouseEvent* event)
{
    Q_EMIT userInteracted();
    QTreeView::mousePressEvent(event);
}

void ReportList::keyPressEvent(QKeyEvent* event)
{
    Q_EMIT userInteracted();
    // Space ticks or unticks every selected row alike, as the current one goes.
    const QVector<int> rows = selectedRowNumbers();
    if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier && checkboxes() && rows.size() > 1) {
        const int current = selectedIndex();
        const bool tick = !isChecked(current);
        for (const int row : rows)
            setChecked(row, tick);
        event->accept();
        return;
    }
    QTreeView::keyPressEvent(event);
}

bool ReportList::viewportEvent(QEvent* event)
{
    // A cell cut off by its column shows whole in a tool tip, unless it has a tip of its own.
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        const QModelIndex index = indexAt(help->pos());
        const QString text = index.isValid() ? index.data(Qt::DisplayRole).toString() : QString();
        if (!text.isEmpty() && !index.data(Qt::ToolTipRole).isValid()) {
            QStyleOptionViewItem option;
            initViewItemOption(&option);
            const QRect cell = visualRect(index);
            option.rect = cell;
            if (itemDelegateForIndex(index)->sizeHint(option, index).width() > cell.width()) {
                QToolTip::showText(help->globalPos(), text, viewport(), cell);
                return true;
            }
        }
    }
    return QTreeView::viewportEvent(event);
}

void ReportList::wheelEvent(QWheelEvent* event)
{
    Q_EMIT userInteracted();
    QTreeView::wheelEvent(event);
}

void ReportList::mouseReleaseEvent(QMouseEvent* event)
{
    QTreeView::mouseReleaseEvent(event);
    const QPointF p = event->position();
    Q_EMIT mouseReleased(buttonCode(event->button()), shiftCode(event->modifiers()), float(p.x()), float(p.y()));
}

void ReportList::drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QTreeView::drawRow(painter, option, index);
    if (!m_gridLines)
        return;
    painter->save();
    QColor line = palette().color(QPalette::Mid);
    line.setAlpha(140);
    painter->setPen(QPen(line, 0));
    const QRect r = option.rect;
    painter->drawLine(r.left(), r.bottom(), r.right(), r.bottom());
    const QHeaderView* h = header();
    for (int s = 0; s < h->count(); ++s) {
        const int x = h->sectionViewportPosition(s) + h->sectionSize(s) - 1;
        painter->drawLine(x, r.top(), x, r.bottom());
    }
    painter->restore();
}

} // namespace platform

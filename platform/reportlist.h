#pragma once

#include <QAbstractTableModel>
#include <QHash>
#include <QString>
#include <QTreeView>
#include <QVector>

#include <functional>

namespace platform {

class ImageList;

// Columns after the sub-items whose cells another part of the program supplies, found by the
// rows' keys; the rows themselves store nothing for them.
class ExtraColumns
{
public:
    virtual ~ExtraColumns() = default;
    virtual int extraColumnCount() const = 0;
    virtual QString extraHeader(int column) const = 0; // column 0..extraColumnCount()-1
    virtual QVariant extraData(quint64 key, int column, int role) const = 0;
    // Sorts the column: lower first; rows with equal keys keep their order.
    virtual double extraSortKey(quint64 key, int column) const = 0;
    // A role for every cell of the row (a background, a tool tip), or nothing. A cell's own tool
    // tip wins over the row's.
    virtual QVariant rowData(quint64 key, int role) const = 0;
};

// Storage behind the report list: one record per row, no per-cell objects, so that
// tens of thousands of rows stay cheap. Column 0 is the row text, columns 1..3 the sub-items.
class ReportListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    static constexpr int SubItems = 3;

    struct Row
    {
        QString text;
        int smallIcon = 0;
        bool checked = false;
        QString sub[SubItems];
        int subIcon[SubItems] = {0, 0, 0};
        QString subToolTip[SubItems];
        bool hidden = false;
        // The owner's tag for what the row shows; it stays with the row through sorts and
        // removals of other rows. Never shown or read here. 0: none.
        quint64 key = 0;
    };

    explicit ReportListModel(QObject* parent = nullptr);

    void setImageList(const ImageList* images) { m_images = images; }
    void setHeaders(const QStringList& headers);
    void setCheckboxes(bool on);
    bool checkboxes() const { return m_checkboxes; }

    int count() const { return static_cast<int>(m_rows.size()); }
    void clear();
    // Appends a row (index = count + 1) and returns its 1-based index.
    int add(const QString& text, int smallIcon);
    // Appends many rows with one notification (used by bulk loads).
    void append(QVector<Row>&& rows);
    const Row& row(int index) const; // 1-based, must be valid
    void removeAt(int index);        // 1-based

    void setText(int index, const QString& text);
    void setSmallIcon(int index, int icon);
    void setChecked(int index, bool checked);
    void setSubText(int index, int sub, const QString& text); // sub 1..3
    void setSubIcon(int index, int sub, int icon);
    void setSubToolTip(int index, int sub, const QString& tip);

    // Adds the supplier's columns after the sub-items (null: none). It must outlive the model or
    // be replaced first. The rows stay, and so do indexes to them.
    void setExtraColumns(const ExtraColumns* extra);
    // The supplier's cells of the row changed (1-based); index 0: of every row.
    void extraChanged(int index);
    // 1-based position of the row with this key, 0 when none has it.
    int indexOfKey(quint64 key) const;

    // How a column's texts compare when sorted: as text (case-insensitive), as numbers (other
    // texts after them), or by a key the owner works out from each text, compared bytewise. An
    // address column sorts by key, as the rules for what an address is live with the engine.
    enum class SortAs
    {
        Text,
        Number,
        Key
    };
    using SortKeyOf = std::function<QByteArray(const QString&)>;
    void setSortAs(int column, SortAs how); // column 0..3
    // Sorts the column by `keyOf` (SortAs::Key); an empty function sorts it as text.
    void setSortKeyOf(int column, SortKeyOf keyOf);
    // Stable sort by column `column` (0 = row text, 1..3 sub-items) as setSortAs says, or by the
    // supplier's sort keys for an extra column; descending is the exact reverse of ascending,
    // except that rows with equal keys keep their order.
    void sortByColumn(int column, Qt::SortOrder order = Qt::AscendingOrder);
    void setHidden(int index, bool hidden);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    void cellChanged(int index, int column, const QList<int>& roles);

    const ImageList* m_images = nullptr;
    const ExtraColumns* m_extra = nullptr;
    QStringList m_headers;
    SortAs m_sortAs[1 + SubItems] = {};
    SortKeyOf m_sortKeyOf[1 + SubItems];
    bool m_checkboxes = true;
    QVector<Row> m_rows;
};

// The report list view: rows addressed by 1-based position in display order, each with
// a text, a small icon, a check box and three sub-items with text, icon and tool tip.
class ReportList : public QTreeView
{
    Q_OBJECT
public:
    explicit ReportList(QWidget* parent = nullptr);

    ReportListModel* items() const { return m_model; }
    void setImageList(const ImageList* images);
    // Column captions and widths in pixels.
    void setColumns(const QStringList& captions, const QVector<int>& widths);
    // The width the widest cell of the column needs (0-based), in pixels.
    int contentWidth(int column) const { return sizeHintForColumn(column); }
    // The column's width, hidden or not: a hidden column reads 0 in the header, and keeps this
    // for when it is shown again.
    int keptColumnWidth(int column) const;
    void setKeptColumnWidth(int column, int width);
    // Sizes a column as the program wants it (not the user or the stretch of the last column):
    // that width is what the column needs to show its values whole.
    void setColumnWidth(int column, int width);
    // The width in pixels the list needs to show every visible column whole, room for the
    // vertical scroll bar included.
    int widthForAllColumns() const;

    // ListItems
    int count() const { return m_model->count(); }
    void clear();
    int add(const QString& text, int smallIcon) { return m_model->add(text, smallIcon); }
    QString text(int index) const { return m_model->row(index).text; }
    int smallIcon(int index) const { return m_model->row(index).smallIcon; }
    bool isChecked(int index) const { return m_model->row(index).checked; }
    void setChecked(int index, bool checked) { m_model->setChecked(index, checked); }
    QString subText(int index, int sub) const { return m_model->row(index).sub[sub - 1]; }
    void setSubText(int index, int sub, const QString& text) { m_model->setSubText(index, sub, text); }
    int subIcon(int index, int sub) const { return m_model->row(index).subIcon[sub - 1]; }
    void setSubIcon(int index, int sub, int icon) { m_model->setSubIcon(index, sub, icon); }
    QString subToolTip(int index, int sub) const { return m_model->row(index).subToolTip[sub - 1]; }
    void setSubToolTip(int index, int sub, const QString& tip) { m_model->setSubToolTip(index, sub, tip); }
    void removeAt(int index);

    // Selection: select() makes the row the only selected one and the current one. The user may
    // select more (Shift, Ctrl). selectedIndex() is the row commands for one row act on: the
    // current row when it is selected, else the first selected; 0 when none is.
    void select(int index);
    int selectedIndex() const;
    // Every selected row, in the list's order.
    QVector<int> selectedRowNumbers() const;
    // Scroll so the row is visible. Cheap: does not relayout the whole view.
    void ensureVisible(int index);

    bool gridLines() const { return m_gridLines; }
    void setGridLines(bool on);
    bool checkboxes() const { return m_model->checkboxes(); }
    void setCheckboxes(bool on) { m_model->setCheckboxes(on); }

    int sortKey() const { return m_sortKey; }
    void setSortKey(int key) { m_sortKey = key; }
    bool sorted() const { return m_sorted; }
    Qt::SortOrder sortOrder() const { return m_sortOrder; }
    void setSortOrder(Qt::SortOrder order) { m_sortOrder = order; }
    // Setting true reorders the rows at once by column sortKey + 1 in sortOrder, and the header
    // shows the arrow; false takes the arrow away and leaves the rows as they are.
    void setSorted(bool on);

    // Hides or shows a row without removing it (positions are unchanged).
    void setRowHiddenAt(int index, bool hidden);
    bool isRowHiddenAt(int index) const;

Q_SIGNALS:
    // 1-based column index of a header click.
    void columnClicked(int column);
    // Button: 1 left, 2 right, 4 middle; shift: 1 shift, 2 control, 4 alt; x, y in pixels.
    void mouseReleased(int button, int shift, float x, float y);
    // The user pressed a mouse button or a key in the list, or scrolled it; never raised for
    // what the program itself selects or scrolls.
    void userInteracted();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    ReportListModel* m_model;
    bool m_gridLines = false;
    int m_sortKey = 0;
    bool m_sorted = false;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    bool m_anyHidden = false;      // rows were ever hidden; until then a reorder has nothing to re-apply
    QHash<int, int> m_keptWidths;  // column -> its last width above 0
    QHash<int, int> m_sizedWidths; // column -> the width the program gave it
};

} // namespace platform

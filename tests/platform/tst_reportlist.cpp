#include "platform/imagelist.h"
#include "platform/reportlist.h"
#include "probe/hostaddress.h"

#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QPainter>
#include <QScrollBar>
#include <QSignalSpy>
#include <QToolTip>
#include <QtTest>

using platform::ReportList;

namespace {

QIcon solidIcon(Qt::GlobalColor color)
{
    QPixmap p(16, 16);
    p.fill(color);
    return QIcon(p);
}

QStringList texts(const ReportList& list, int column)
{
    QStringList out;
    for (int i = 1; i <= list.count(); ++i)
        out << (column == 0 ? list.text(i) : list.subText(i, column));
    return out;
}

void fill(ReportList& list, const QStringList& names)
{
    for (const QString& n : names)
        list.add(n, 1);
}

} // namespace

class TestReportList : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rowsAreOneBased();
    void cellsReachTheModel();
    void checkBoxesFollowTheSwitch();
    void selectionIsOneRowOrNone();
    void removeAndClearKeepPositionsDense();
    void ensureVisibleScrolls();
    void bulkAppend();
    void modelKeepsItsContractThroughEveryChange();
    void keysStayWithTheirRows();

    void sortOrdersText_data();
    void sortOrdersText();
    void sortIsStable();
    void sortByValue_data();
    void sortByValue();
    void descendingReversesButKeepsTiesInOrder();
    void cutOffCellsShowWholeInATip();
    void sortKeepsSelectionAndHiddenRows();

    void gridLinesAreDrawn();
    void widthForAllColumnsHoldsTheLastColumnAsSized();
    void headerClickGivesOneBasedColumn();
    void mouseReleaseCodes_data();
    void mouseReleaseCodes();
};

void TestReportList::rowsAreOneBased()
{
    ReportList list;
    QCOMPARE(list.count(), 0);
    QCOMPARE(list.add(QStringLiteral("alpha"), 1), 1);
    QCOMPARE(list.add(QStringLiteral("beta"), 2), 2);
    QCOMPARE(list.count(), 2);
    QCOMPARE(list.text(1), QStringLiteral("alpha"));
    QCOMPARE(list.smallIcon(2), 2);
    // New rows come unticked, with empty sub-items.
    QVERIFY(!list.isChecked(1));
    QVERIFY(list.subText(1, 3).isEmpty());
    QCOMPARE(list.items()->rowCount(), 2);
    QCOMPARE(list.items()->columnCount(), 4);
    QCOMPARE(list.items()->data(list.items()->index(1, 0), Qt::DisplayRole).toString(), QStringLiteral("beta"));
}

void TestReportList::cellsReachTheModel()
{
    platform::ImageList images;
    images.add(solidIcon(Qt::red), QStringLiteral("red"));
    images.add(solidIcon(Qt::green), QStringLiteral("green"));
    ReportList list;
    list.setImageList(&images);
    list.add(QStringLiteral("host"), 2);
    list.setSubText(1, 1, QStringLiteral("10.0.0.1"));
    list.setSubText(1, 3, QStringLiteral("120"));
    list.setSubIcon(1, 2, 1);
    list.setSubToolTip(1, 2, QStringLiteral("timed out"));
    list.setChecked(1, true);

    auto* model = list.items();
    QCOMPARE(list.subText(1, 1), QStringLiteral("10.0.0.1"));
    QCOMPARE(model->data(model->index(0, 1), Qt::DisplayRole).toString(), QStringLiteral("10.0.0.1"));
    QCOMPARE(model->data(model->index(0, 3), Qt::DisplayRole).toString(), QStringLiteral("120"));
    QCOMPARE(list.subIcon(1, 2), 1);
    QCOMPARE(list.subToolTip(1, 2), QStringLiteral("timed out"));
    QCOMPARE(model->data(model->index(0, 2), Qt::ToolTipRole).toString(), QStringLiteral("timed out"));
    QVERIFY(!model->data(model->index(0, 1), Qt::ToolTipRole).isValid());

    const QIcon rowIcon = model->data(model->index(0, 0), Qt::DecorationRole).value<QIcon>();
    QCOMPARE(rowIcon.pixmap(16, 16).toImage().pixelColor(8, 8), QColor(Qt::green));
    const QIcon subIcon = model->data(model->index(0, 2), Qt::DecorationRole).value<QIcon>();
    QCOMPARE(subIcon.pixmap(16, 16).toImage().pixelColor(8, 8), QColor(Qt::red));
    // Icon 0 and indices past the list show nothing.
    QVERIFY(!model->data(model->index(0, 1), Qt::DecorationRole).isValid());
    list.setSubIcon(1, 3, 9);
    QVERIFY(model->data(model->index(0, 3), Qt::DecorationRole).value<QIcon>().isNull());

    QSignalSpy changed(model, &QAbstractItemModel::dataChanged);
    list.setSubText(1, 1, QStringLiteral("10.0.0.2"));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).value<QModelIndex>(), model->index(0, 1));
}

void TestReportList::checkBoxesFollowTheSwitch()
{
    ReportList list;
    list.add(QStringLiteral("a"), 0);
    auto* model = list.items();
    const QModelIndex cell = model->index(0, 0);
    QVERIFY(list.checkboxes());
    QCOMPARE(model->data(cell, Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
    QVERIFY(model->flags(cell) & Qt::ItemIsUserCheckable);

    // A tick by the user arrives through setData.
    QVERIFY(model->setData(cell, Qt::Checked, Qt::CheckStateRole));
    QVERIFY(list.isChecked(1));

    list.setCheckboxes(false);
    QVERIFY(!list.checkboxes());
    QVERIFY(!model->data(cell, Qt::CheckStateRole).isValid());
    QVERIFY(!(model->flags(cell) & Qt::ItemIsUserCheckable));
    QVERIFY(!model->setData(cell, Qt::Unchecked, Qt::CheckStateRole));
    QVERIFY(list.isChecked(1));

    list.setCheckboxes(true);
    QCOMPARE(model->data(cell, Qt::CheckStateRole).toInt(), int(Qt::Checked));
}

void TestReportList::selectionIsOneRowOrNone()
{
    ReportList list;
    QCOMPARE(list.selectedIndex(), 0);
    fill(list, {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("d")});
    QCOMPARE(list.selectedIndex(), 0);
    list.select(3);
    QCOMPARE(list.selectedIndex(), 3);
    QCOMPARE(list.currentIndex().row(), 2);
    list.select(1);
    QCOMPARE(list.selectedIndex(), 1);
    QCOMPARE(list.selectionModel()->selectedRows().size(), 1);
    list.select(0);
    list.select(5);
    QCOMPARE(list.selectedIndex(), 1);
}

void TestReportList::removeAndClearKeepPositionsDense()
{
    ReportList list;
    fill(list, {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
    list.removeAt(2);
    QCOMPARE(texts(list, 0), (QStringList{QStringLiteral("a"), QStringLiteral("c")}));
    list.removeAt(0);
    list.removeAt(3);
    QCOMPARE(list.count(), 2);

    list.select(2);
    list.clear();
    QCOMPARE(list.count(), 0);
    QCOMPARE(list.selectedIndex(), 0);
    QCOMPARE(list.add(QStringLiteral("again"), 0), 1);
}

void TestReportList::ensureVisibleScrolls()
{
    ReportList list;
    for (int i = 1; i <= 300; ++i)
        list.add(QString::number(i), 0);
    list.resize(300, 200);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));

    const QModelIndex target = list.items()->index(249, 0);
    QVERIFY(!list.viewport()->rect().intersects(list.visualRect(target)));
    list.ensureVisible(250);
    QVERIFY(list.viewport()->rect().contains(list.visualRect(target)));
    list.ensureVisible(1);
    QVERIFY(list.viewport()->rect().contains(list.visualRect(list.items()->index(0, 0))));
    list.ensureVisible(0);
    list.ensureVisible(301);
}

void TestReportList::bulkAppend()
{
    ReportList list;
    list.add(QStringLiteral("first"), 0);
    QSignalSpy inserted(list.items(), &QAbstractItemModel::rowsInserted);
    QVector<platform::ReportListModel::Row> rows(3);
    for (int i = 0; i < 3; ++i) {
        rows[i].text = QStringLiteral("bulk %1").arg(i);
        rows[i].checked = true;
        rows[i].sub[0] = QStringLiteral("10.0.0.%1").arg(i);
    }
    list.items()->append(std::move(rows));
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(inserted.at(0).at(1).toInt(), 1);
    QCOMPARE(inserted.at(0).at(2).toInt(), 3);
    QCOMPARE(list.count(), 4);
    QCOMPARE(list.text(4), QStringLiteral("bulk 2"));
    QCOMPARE(list.subText(4, 1), QStringLiteral("10.0.0.2"));
    QVERIFY(list.isChecked(4));

    list.items()->append({});
    QCOMPARE(inserted.count(), 1);
}

// Qt's own checker watches every signal and re-reads the model after each change; a wrong row
// range, a missing layout signal or a stale persistent index fails the test where it happens.
void TestReportList::modelKeepsItsContractThroughEveryChange()
{
    platform::ImageList images;
    images.add(solidIcon(Qt::red), QStringLiteral("red"));
    ReportList list;
    list.setImageList(&images);
    list.setColumns(
        {QStringLiteral("Name"), QStringLiteral("Address"), QStringLiteral("Status"), QStringLiteral("Timeout")},
        {80, 80, 80, 80});
    list.resize(400, 200);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    platform::ReportListModel* model = list.items();
    QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::QtTest);

    const auto bulk = [](const QStringList& names) {
        QVector<platform::ReportListModel::Row> rows(names.size());
        for (int i = 0; i < names.size(); ++i) {
            rows[i].text = names.at(i);
            rows[i].smallIcon = 1;
            rows[i].checked = true;
            rows[i].sub[0] = QStringLiteral("10.0.0.%1").arg(i);
        }
        return rows;
    };
    // Into an empty model (the rows are taken over whole) and onto existing rows.
    model->append(bulk({QStringLiteral("m"), QStringLiteral("c")}));
    QVERIFY(!QTest::currentTestFailed());
    list.add(QStringLiteral("x"), 1);
    model->append(bulk({QStringLiteral("b"), QStringLiteral("k"), QStringLiteral("a")}));
    model->append({});
    QCOMPARE(list.count(), 6);

    list.setSubText(2, 1, QStringLiteral("10.1.1.1"));
    list.setSubIcon(2, 2, 1);
    list.setSubToolTip(2, 2, QStringLiteral("tip"));
    list.setChecked(3, true);
    QVERIFY(model->setData(model->index(3, 0), Qt::Checked, Qt::CheckStateRole));
    list.setCheckboxes(false);
    list.setCheckboxes(true);

    // A sort with a selection and a hidden row: persistent indexes must follow their rows.
    list.select(2); // "c"
    list.setRowHiddenAt(1, true);
    const QPersistentModelIndex kept = model->index(4, 2); // "k", Status
    list.setSorted(true);
    QCOMPARE(texts(list, 0), (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"),
                                          QStringLiteral("k"), QStringLiteral("m"), QStringLiteral("x")}));
    QCOMPARE(list.text(list.selectedIndex()), QStringLiteral("c"));
    QVERIFY(list.isRowHiddenAt(5));
    QCOMPARE(kept.row(), 3);
    QCOMPARE(kept.column(), 2);
    list.setSortKey(1);
    list.setSorted(true);

    list.setRowHiddenAt(5, false);
    list.removeAt(1);
    list.removeAt(list.count());
    list.removeAt(0);
    QCOMPARE(list.count(), 4);
    list.clear();
    QCOMPARE(list.count(), 0);
    list.add(QStringLiteral("after clear"), 0);
    list.setSorted(true);
    QCOMPARE(list.count(), 1);
}

// The owner's key is the only thing that ties a row to what it shows (a line of the host list):
// after sorts and removals of other rows each key must still sit on its own row.
void TestReportList::keysStayWithTheirRows()
{
    ReportList list;
    QVector<platform::ReportListModel::Row> rows(5);
    const QStringList names = {QStringLiteral("d"), QStringLiteral("b"), QStringLiteral("e"), QStringLiteral("a"),
                               QStringLiteral("c")};
    for (int i = 0; i < rows.size(); ++i) {
        rows[i].text = names.at(i);
        rows[i].sub[0] = QString::number(10 - i);
        rows[i].key = 100 + quint64(i);
    }
    list.items()->append(std::move(rows));

    list.setSorted(true);
    list.removeAt(1); // "a"
    list.setSortKey(1);
    list.setSorted(true);
    list.removeAt(2);
    QCOMPARE(list.count(), 3);
    for (int i = 1; i <= list.count(); ++i)
        QCOMPARE(list.items()->row(i).key, 100 + quint64(names.indexOf(list.text(i))));
    QCOMPARE(list.add(QStringLiteral("new"), 0), 4);
    QCOMPARE(list.items()->row(4).key, quint64(0));
}

void TestReportList::sortOrdersText_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<QStringList>("column");
    QTest::addColumn<QStringList>("expected");

    // Text order, not numeric or address order: "10..." sorts before "9...".
    QTest::newRow("addresses by sub-item 1")
        << 1 << QStringList{QStringLiteral("9.0.0.1"), QStringLiteral("10.0.0.2"), QStringLiteral("192.168.0.1")}
        << QStringList{QStringLiteral("10.0.0.2"), QStringLiteral("192.168.0.1"), QStringLiteral("9.0.0.1")};
    QTest::newRow("names by row text") << 0
                                       << QStringList{QStringLiteral("mail"), QStringLiteral("Backup"),
                                                      QStringLiteral("alpha")}
                                       << QStringList{QStringLiteral("alpha"), QStringLiteral("Backup"),
                                                      QStringLiteral("mail")};
    QTest::newRow("timeouts by sub-item 3") << 3 << QStringList{QStringLiteral("120"), QStringLiteral("15"), QString()}
                                            << QStringList{QString(), QStringLiteral("120"), QStringLiteral("15")};
}

void TestReportList::sortOrdersText()
{
    QFETCH(int, key);
    QFETCH(QStringList, column);
    QFETCH(QStringList, expected);
    ReportList list;
    for (const QString& text : column) {
        const int i = list.add(key == 0 ? text : QStringLiteral("row"), 0);
        if (key > 0)
            list.setSubText(i, key, text);
    }
    list.setSortKey(key);
    list.setSorted(true);
    QVERIFY(list.sorted());
    QCOMPARE(texts(list, key), expected);
    // Sorting again keeps the same direction.
    list.setSorted(true);
    QCOMPARE(texts(list, key), expected);
}

void TestReportList::sortIsStable()
{
    ReportList list;
    const QStringList names = {QStringLiteral("b1"), QStringLiteral("a1"), QStringLiteral("b2"), QStringLiteral("a2"),
                               QStringLiteral("b3")};
    for (const QString& n : names)
        list.setSubText(list.add(n, 0), 1, n.left(1));
    list.setSortKey(1);
    list.setSorted(true);
    QCOMPARE(texts(list, 0), (QStringList{QStringLiteral("a1"), QStringLiteral("a2"), QStringLiteral("b1"),
                                          QStringLiteral("b2"), QStringLiteral("b3")}));
}

void TestReportList::sortByValue_data()
{
    using SortAs = platform::ReportListModel::SortAs;
    QTest::addColumn<int>("how");
    QTest::addColumn<QStringList>("column");
    QTest::addColumn<QStringList>("expected");
    const auto l = [](std::initializer_list<const char*> items) {
        QStringList out;
        for (const char* i : items)
            out.append(QString::fromLatin1(i));
        return out;
    };
    // Addresses by the key the window gives its address column.
    QTest::newRow("addresses by value") << int(SortAs::Key)
                                        << l({"127.0.1.101", "127.0.1.10", "127.0.1.2", "127.0.1.100", "9.0.0.1"})
                                        << l({"9.0.0.1", "127.0.1.2", "127.0.1.10", "127.0.1.100", "127.0.1.101"});
    QTest::newRow("IPv6 after IPv4, names after both, by text")
        << int(SortAs::Key) << l({"router", "::1", "10.0.0.1", "Alpha.example", "", "1.2.3.4", "::0.0.0.2"})
        << l({"1.2.3.4", "10.0.0.1", "::1", "::0.0.0.2", "", "Alpha.example", "router"});
    QTest::newRow("no wrap at the top bit")
        << int(SortAs::Key) << l({"255.255.255.254", "128.0.0.1", "127.255.255.255"})
        << l({"127.255.255.255", "128.0.0.1", "255.255.255.254"});
    QTest::newRow("times by number, empty after")
        << int(SortAs::Number) << l({"120", "", "15", "3", "1000"}) << l({"3", "15", "120", "1000", ""});
    QTest::newRow("text stays text") << int(SortAs::Text) << l({"120", "15", "3"}) << l({"120", "15", "3"});
}

void TestReportList::sortByValue()
{
    QFETCH(int, how);
    QFETCH(QStringList, column);
    QFETCH(QStringList, expected);
    ReportList list;
    if (platform::ReportListModel::SortAs(how) == platform::ReportListModel::SortAs::Key)
        list.items()->setSortKeyOf(2, hostaddress::sortKey);
    else
        list.items()->setSortAs(2, platform::ReportListModel::SortAs(how));
    for (const QString& text : column)
        list.setSubText(list.add(QStringLiteral("row"), 0), 2, text);
    list.setSortKey(2);
    list.setSorted(true);
    QCOMPARE(texts(list, 2), expected);

    list.setSortOrder(Qt::DescendingOrder);
    list.setSorted(true);
    QStringList reversed = expected;
    std::reverse(reversed.begin(), reversed.end());
    QCOMPARE(texts(list, 2), reversed);
    // The header shows which column and which way.
    QVERIFY(list.header()->isSortIndicatorShown());
    QCOMPARE(list.header()->sortIndicatorSection(), 2);
    QCOMPARE(list.header()->sortIndicatorOrder(), Qt::DescendingOrder);
    list.setSorted(false);
    QVERIFY(!list.header()->isSortIndicatorShown());
}

void TestReportList::descendingReversesButKeepsTiesInOrder()
{
    ReportList list;
    const QStringList names = {QStringLiteral("b1"), QStringLiteral("a1"), QStringLiteral("b2"), QStringLiteral("a2")};
    for (const QString& n : names)
        list.setSubText(list.add(n, 0), 1, n.left(1));
    list.setSortKey(1);
    list.setSortOrder(Qt::DescendingOrder);
    list.setSorted(true);
    QCOMPARE(texts(list, 0),
             (QStringList{QStringLiteral("b1"), QStringLiteral("b2"), QStringLiteral("a1"), QStringLiteral("a2")}));
}

void TestReportList::cutOffCellsShowWholeInATip()
{
    ReportList list;
    list.setColumns(
        {QStringLiteral("Name"), QStringLiteral("Address"), QStringLiteral("Status"), QStringLiteral("Time")},
        {60, 60, 60, 60});
    const QString longName = QStringLiteral("This computer, with a name far wider than its column");
    list.add(longName, 0);
    list.add(QStringLiteral("ab"), 0);
    list.resize(400, 200);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    const auto tipAt = [&](int row) {
        QToolTip::hideText();
        if (!QTest::qWaitFor([] { return !QToolTip::isVisible(); }, 3000))
            return QStringLiteral("<a tip stayed up>");
        const QRect cell = list.visualRect(list.items()->index(row, 0));
        QHelpEvent help(QEvent::ToolTip, cell.center(), list.viewport()->mapToGlobal(cell.center()));
        QApplication::sendEvent(list.viewport(), &help);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    QTRY_COMPARE(tipAt(0), longName);
    QCOMPARE(tipAt(1), QString()); // whole already
    // Widened until it fits, it needs no tip.
    list.header()->resizeSection(0, 390);
    QCOMPARE(tipAt(0), QString());
}

void TestReportList::sortKeepsSelectionAndHiddenRows()
{
    ReportList list;
    fill(list, {QStringLiteral("c"), QStringLiteral("a"), QStringLiteral("b")});
    list.select(1);               // "c"
    list.setRowHiddenAt(3, true); // "b"
    list.setSorted(true);
    QCOMPARE(texts(list, 0), (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}));
    QCOMPARE(list.selectedIndex(), 3);
    QVERIFY(list.isRowHiddenAt(2));
    QVERIFY(list.isRowHidden(1, {}));
    QVERIFY(!list.isRowHiddenAt(3));
    QVERIFY(!list.isRowHidden(2, {}));
}

void TestReportList::gridLinesAreDrawn()
{
    ReportList list;
    list.setColumns(
        {QStringLiteral("Name"), QStringLiteral("Address"), QStringLiteral("Status"), QStringLiteral("Timeout")},
        {80, 80, 80, 80});
    fill(list, {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
    list.resize(400, 200);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));

    QVERIFY(!list.gridLines());
    const QImage plain = list.viewport()->grab().toImage();
    list.setGridLines(true);
    QVERIFY(list.gridLines());
    const QImage lined = list.viewport()->grab().toImage();
    QVERIFY(plain != lined);
    list.setGridLines(false);
    QCOMPARE(list.viewport()->grab().toImage(), plain);
}

void TestReportList::headerClickGivesOneBasedColumn()
{
    ReportList list;
    list.setColumns(
        {QStringLiteral("Name"), QStringLiteral("Address"), QStringLiteral("Status"), QStringLiteral("Timeout")},
        {80, 80, 80, 80});
    list.resize(400, 200);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    QCOMPARE(list.items()->headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("Address"));

    QSignalSpy clicked(&list, &ReportList::columnClicked);
    QHeaderView* header = list.header();
    for (int section = 0; section < 4; ++section) {
        const QPoint at(header->sectionViewportPosition(section) + 10, header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
    }
    QCOMPARE(clicked.count(), 4);
    for (int i = 0; i < 4; ++i)
        QCOMPARE(clicked.at(i).at(0).toInt(), i + 1);
}

void TestReportList::mouseReleaseCodes_data()
{
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("shift");
    QTest::newRow("left") << Qt::LeftButton << Qt::KeyboardModifiers() << 1 << 0;
    QTest::newRow("right") << Qt::RightButton << Qt::KeyboardModifiers() << 2 << 0;
    QTest::newRow("middle") << Qt::MiddleButton << Qt::KeyboardModifiers() << 4 << 0;
    QTest::newRow("shift left") << Qt::LeftButton << Qt::KeyboardModifiers(Qt::ShiftModifier) << 1 << 1;
    QTest::newRow("control right") << Qt::RightButton << Qt::KeyboardModifiers(Qt::ControlModifier) << 2 << 2;
    QTest::newRow("alt shift") << Qt::LeftButton << Qt::KeyboardModifiers(Qt::AltModifier | Qt::ShiftModifier) << 1
                               << 5;
}

void TestReportList::mouseReleaseCodes()
{
    QFETCH(Qt::MouseButton, button);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(int, code);
    QFETCH(int, shift);

    ReportList list;
    fill(list, {QStringLiteral("a"), QStringLiteral("b")});
    list.resize(300, 200);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));

    QSignalSpy released(&list, &ReportList::mouseReleased);
    const QPoint at(40, 120);
    QTest::mouseClick(list.viewport(), button, modifiers, at);
    QCOMPARE(released.count(), 1);
    const QList<QVariant> args = released.takeFirst();
    QCOMPARE(args.at(0).toInt(), code);
    QCOMPARE(args.at(1).toInt(), shift);
    QCOMPARE(args.at(2).toFloat(), 40.0f);
    QCOMPARE(args.at(3).toFloat(), 120.0f);
}

// The window opens as wide as this on a first run: a last column sized to hold its values
// (wider than its header) must fit whole, or the first sweep brings a horizontal scroll bar.
void TestReportList::widthForAllColumnsHoldsTheLastColumnAsSized()
{
    ReportList list;
    list.setColumns({QStringLiteral("Name"), QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("Since")},
                    {120, 60, 60, 40});
    list.setColumnWidth(3, 160);
    list.resize(200, 200);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    const int wanted = list.widthForAllColumns();
    QVERIFY2(wanted >= 120 + 60 + 60 + 160, qPrintable(QString::number(wanted)));
    list.resize(wanted, 200);
    QTRY_COMPARE(list.horizontalScrollBar()->maximum(), 0);
    QVERIFY(list.columnWidth(3) >= 160);
}

QTEST_MAIN(TestReportList)
#include "tst_reportlist.moc"

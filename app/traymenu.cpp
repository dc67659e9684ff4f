#include "app/traymenu.h"

#include "app/frmmain.h"
#include "app/toolbarlayout.h"
#include "platform/toolbar.h"

#include "platform/reportlist.h"

#include <QAction>
#include <QHeaderView>
#include <QMenu>

namespace traymenu {

namespace {

QAction* add(QMenu* menu, const QString& text, const char* name)
{
    QAction* a = menu->addAction(text);
    a->setObjectName(QString::fromLatin1(name));
    return a;
}

} // namespace

QMenu* build(frmMain& window)
{
    auto* menu = new QMenu(&window);
    menu->setObjectName(QStringLiteral("mnuTray"));
    menu->setAccessibleName(QStringLiteral("Tivane"));
    QObject::connect(add(menu, QStringLiteral("&About\u2026"), "mnuABout"), &QAction::triggered, &window,
                     &frmMain::mnuABout_Click);
    QObject::connect(add(menu, QStringLiteral("&Show"), "mnuShow"), &QAction::triggered, &window,
                     &frmMain::mnuShow_Click);
    menu->addSeparator()->setObjectName(QStringLiteral("mnuSp"));
    QObject::connect(add(menu, QStringLiteral("E&xit"), "mnuExit"), &QAction::triggered, &window,
                     &frmMain::mnuExit_Click);

    // Through the toolbar, so that they run exactly as its buttons do.
    platform::ToolBar* toolbar = window.tblTivane;
    menu->addSeparator();
    QAction* ping = add(menu, QStringLiteral("Ping"), "mnuTrayPing");
    QAction* continuous = add(menu, QStringLiteral("Ping Continuus"), "mnuTrayPingC");
    QAction* stop = add(menu, QStringLiteral("Stop"), "mnuTrayStop");
    QObject::connect(ping, &QAction::triggered, toolbar, [toolbar] { toolbar->clickButton(tb::Ping); });
    QObject::connect(continuous, &QAction::triggered, toolbar,
                     [toolbar] { toolbar->clickMenuItem(QStringLiteral("mnuPingC")); });
    QObject::connect(stop, &QAction::triggered, toolbar, [toolbar] { toolbar->clickButton(tb::Stop); });
    const auto follow = [toolbar, ping, continuous, stop] {
        ping->setEnabled(toolbar->isButtonEnabled(tb::Ping));
        continuous->setEnabled(toolbar->isButtonEnabled(tb::Ping));
        stop->setEnabled(toolbar->isButtonEnabled(tb::Stop));
    };
    QObject::connect(toolbar, &platform::ToolBar::buttonEnabledChanged, menu, follow);
    follow();
    return menu;
}

void addSortKeys(frmMain& window)
{
    for (int column = 1; column <= 9; ++column) {
        auto* sort = new QAction(QStringLiteral("Sort by column %1").arg(column), &window);
        sort->setObjectName(QStringLiteral("mnuSort%1").arg(column));
        sort->setShortcut(QKeySequence(Qt::CTRL | Qt::Key(Qt::Key_0 + column)));
        sort->setShortcutContext(Qt::WindowShortcut);
        QObject::connect(sort, &QAction::triggered, &window, [&window, column] {
            if (column <= window.lstPings->header()->count() && !window.lstPings->isColumnHidden(column - 1))
                window.lstPings_ColumnClick(column);
        });
        window.addAction(sort);
    }
    window.lstPings->header()->setToolTip(QStringLiteral("Click a column, or press Ctrl+1 to Ctrl+9 for the first "
                                                         "nine, to sort by it; again to reverse the order."));
}

} // namespace traymenu

#include "platform/toolbar.h"

#include "platform/imagelist.h"

#include <QAction>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QToolButton>

namespace platform {

namespace {
constexpr int ButtonWidth = 43;
constexpr int ButtonHeight = 36;
constexpr int PlaceholderWidth = 8;

// A button with a drop-down menu that the keyboard opens too: its Alt mnemonic, and Down, F4 or
// Alt+Down while it has the focus. Without this only a mouse could reach the menu's commands.
class DropDownButton : public QToolButton
{
public:
    DropDownButton(bool mnemonicPresses, QWidget* parent) : QToolButton(parent), m_mnemonicPresses(mnemonicPresses) {}

protected:
    bool event(QEvent* event) override
    {
        if (event->type() == QEvent::Shortcut && menu() && isEnabled() && !m_mnemonicPresses) {
            setFocus(Qt::ShortcutFocusReason);
            showMenu();
            return true;
        }
        return QToolButton::event(event);
    }

    void keyPressEvent(QKeyEvent* event) override
    {
        const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
        const bool opens = (event->key() == Qt::Key_Down && (mods == Qt::NoModifier || mods == Qt::AltModifier)) ||
                           (event->key() == Qt::Key_F4 && mods == Qt::NoModifier);
        if (opens && menu()) {
            showMenu();
            return;
        }
        QToolButton::keyPressEvent(event);
    }

private:
    bool m_mnemonicPresses = false;
};
} // namespace

ToolBar::ToolBar(QWidget* parent) : QToolBar(parent)
{
    setMovable(false);
    setFloatable(false);
    setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    setIconSize(QSize(16, 16));
    setContextMenuPolicy(Qt::PreventContextMenu);
}

int ToolBar::addButton(const QString& caption, const QString& key, Style style, int image, const QString& description,
                       const QString& toolTip)
{
    Entry e;
    e.key = key;
    e.style = style;
    const int index = count() + 1;
    if (style == Placeholder) {
        auto* gap = new QWidget(this);
        gap->setFixedWidth(PlaceholderWidth);
        gap->setAccessibleName(description);
        e.action = addWidget(gap);
        m_buttons.append(e);
        return index;
    }
    const bool dropDown = style == DropDown || style == SplitDropDown;
    auto* b = dropDown ? new DropDownButton(style == SplitDropDown, this) : new QToolButton(this);
    b->setObjectName(key);
    // Reachable with Tab, so that the keyboard can open the drop-downs and press the rest.
    b->setFocusPolicy(Qt::TabFocus);
    // A screen reader reads the caption without its mnemonic marker.
    b->setAccessibleName(QString(caption).remove(QLatin1Char('&')));
    b->setText(caption);
    b->setToolTip(toolTip);
    b->setAccessibleDescription(description);
    b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    b->setAutoRaise(true);
    b->setMinimumSize(ButtonWidth, ButtonHeight);
    if (m_images)
        b->setIcon(m_images->picture(image));
    if (style == Check)
        b->setCheckable(true);
    if (dropDown) {
        e.menu = new QMenu(b);
        e.menu->setObjectName(key + QStringLiteral("Menu"));
        e.menu->setAccessibleName(b->accessibleName());
        b->setMenu(e.menu);
        b->setPopupMode(QToolButton::MenuButtonPopup);
        // Opened from the keyboard, the first item is highlighted, so that Return chooses it at once.
        // A click has a mouse button down as the menu opens; a key does not.
        QMenu* menu = e.menu;
        connect(menu, &QMenu::aboutToShow, menu, [menu] {
            if (QGuiApplication::mouseButtons() != Qt::NoButton)
                return;
            const auto items = menu->actions();
            for (QAction* a : items) {
                if (a->isEnabled() && a->isVisible() && !a->isSeparator()) {
                    menu->setActiveAction(a);
                    break;
                }
            }
        });
    }
    connect(b, &QToolButton::clicked, this, [this, index] { Q_EMIT buttonClicked(index); });
    e.button = b;
    e.action = addWidget(b);
    m_buttons.append(e);
    return index;
}

void ToolBar::addMenuItem(int index, const QString& text, const QString& key)
{
    const Entry* e = entry(index);
    if (!e || !e->menu)
        return;
    if (text == QLatin1String("-")) {
        e->menu->addSeparator();
        return;
    }
    QAction* a = e->menu->addAction(text);
    a->setObjectName(key);
    a->setData(key);
    connect(a, &QAction::triggered, this, [this, key] { Q_EMIT buttonMenuClicked(key); });
}

const ToolBar::Entry* ToolBar::entry(int index) const
{
    if (index < 1 || index > count())
        return nullptr;
    return &m_buttons.at(index - 1);
}

bool ToolBar::isButtonEnabled(int index) const
{
    const Entry* e = entry(index);
    return e && e->action->isEnabled() && (!e->button || e->button->isEnabled());
}

void ToolBar::setButtonEnabled(int index, bool enabled)
{
    if (const Entry* e = entry(index)) {
        const bool was = isButtonEnabled(index);
        if (e->button)
            e->button->setEnabled(enabled);
        else
            e->action->setEnabled(enabled);
        if (was != isButtonEnabled(index))
            Q_EMIT buttonEnabledChanged(index, enabled);
    }
}

int ToolBar::buttonValue(int index) const
{
    const Entry* e = entry(index);
    return e && e->button && e->button->isChecked() ? 1 : 0;
}

void ToolBar::setButtonValue(int index, int value)
{
    const Entry* e = entry(index);
    if (e && e->button && e->button->isCheckable())
        e->button->setChecked(value != 0);
}

QString ToolBar::buttonKey(int index) const
{
    const Entry* e = entry(index);
    return e ? e->key : QString();
}

QToolButton* ToolBar::button(int index) const
{
    const Entry* e = entry(index);
    return e ? e->button : nullptr;
}

QAction* ToolBar::menuItem(const QString& key) const
{
    for (const Entry& e : m_buttons) {
        if (!e.menu)
            continue;
        const auto actions = e.menu->actions();
        for (QAction* a : actions) {
            if (!a->isSeparator() && a->data().toString() == key)
                return a;
        }
    }
    return nullptr;
}

void ToolBar::setMenuItemCheckable(const QString& key, bool checkable)
{
    if (QAction* a = menuItem(key))
        a->setCheckable(checkable);
}

void ToolBar::setMenuItemChecked(const QString& key, bool checked)
{
    if (QAction* a = menuItem(key)) {
        a->setCheckable(true);
        a->setChecked(checked);
    }
}

bool ToolBar::isMenuItemChecked(const QString& key) const
{
    QAction* a = menuItem(key);
    return a && a->isChecked();
}

void ToolBar::setMenuItemEnabled(const QString& key, bool enabled)
{
    if (QAction* a = menuItem(key))
        a->setEnabled(enabled);
}

void ToolBar::clickButton(int index)
{
    const Entry* e = entry(index);
    if (!e)
        return;
    if (e->button)
        e->button->click();
}

void ToolBar::clickMenuItem(const QString& key)
{
    QAction* a = menuItem(key);
    if (a && a->isEnabled())
        a->trigger();
}

} // namespace platform

#pragma once

#include <QString>
#include <QToolBar>
#include <QVector>

class QToolButton;
class QMenu;
class QAction;

namespace platform {

class ImageList;

// A toolbar whose buttons are addressed by 1-based position, as the command dispatch numbers them.
class ToolBar : public QToolBar
{
    Q_OBJECT
public:
    enum Style
    {
        Plain,
        DropDown,
        // A drop-down whose face is a command of its own: its Alt mnemonic presses the face,
        // while Alt+Down, F4 and the arrow still open the menu.
        SplitDropDown,
        Check,
        Placeholder
    };

    explicit ToolBar(QWidget* parent = nullptr);

    void setImageList(const ImageList* images) { m_images = images; }

    // Appends a button; caption may hold an "&" mnemonic, the tool tip is shown literally.
    // image is a 1-based index into the image list, 0 for none. Returns the new position.
    int addButton(const QString& caption, const QString& key, Style style, int image, const QString& description,
                  const QString& toolTip);
    // Appends a drop-down item to button `index`; text "-" adds a separator line (no key).
    void addMenuItem(int index, const QString& text, const QString& key);

    int count() const { return static_cast<int>(m_buttons.size()); }
    bool isButtonEnabled(int index) const;
    void setButtonEnabled(int index, bool enabled);
    // 1 while a check button is pressed, else 0.
    int buttonValue(int index) const;
    void setButtonValue(int index, int value);
    QString buttonKey(int index) const;
    QToolButton* button(int index) const; // null for the placeholder and out of range

    // Drop-down items by key. An item can show a check mark.
    QAction* menuItem(const QString& key) const;
    void setMenuItemCheckable(const QString& key, bool checkable);
    void setMenuItemChecked(const QString& key, bool checked);
    bool isMenuItemChecked(const QString& key) const;
    void setMenuItemEnabled(const QString& key, bool enabled);

    // Test hooks: raise the events as a user's click would.
    void clickButton(int index);
    void clickMenuItem(const QString& key);

Q_SIGNALS:
    void buttonClicked(int index);
    void buttonMenuClicked(const QString& key);
    // A button was enabled or disabled, so that other places offering its command can follow.
    void buttonEnabledChanged(int index, bool enabled);

private:
    struct Entry
    {
        QString key;
        Style style;
        QToolButton* button = nullptr; // null for the placeholder
        QAction* action = nullptr;     // the button's place in the toolbar
        QMenu* menu = nullptr;
    };
    const Entry* entry(int index) const;

    const ImageList* m_images = nullptr;
    QVector<Entry> m_buttons;
};

} // namespace platform

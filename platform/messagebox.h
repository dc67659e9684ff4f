#pragma once

#include <QString>

class QWidget;

namespace platform {

// Message box styles, as the callers number them.
enum MsgStyle : int
{
    MsgOkOnly = 0,
    MsgYesNo = 4,
    MsgCritical = 16,
    MsgQuestion = 32,
    MsgExclamation = 48,
    MsgInformation = 64,
};

enum MsgResult : int
{
    MsgResultOk = 1,
    MsgResultYes = 6,
    MsgResultNo = 7,
};

// Every text the user is told goes through this: modal, titled with the application title.
// Tests substitute a recorder that answers without blocking.
class MessageBox
{
public:
    virtual ~MessageBox() = default;
    // style is a sum of MsgStyle values (button set + icon). Returns the button chosen.
    virtual int show(const QString& text, int style, const QString& title) = 0;
};

// The real one: a QMessageBox owned by the given window (may be null).
class QtMessageBox : public MessageBox
{
public:
    explicit QtMessageBox(QWidget* owner = nullptr) : m_owner(owner) {}
    void setOwner(QWidget* owner) { m_owner = owner; }
    int show(const QString& text, int style, const QString& title) override;

private:
    QWidget* m_owner;
};

} // namespace platform

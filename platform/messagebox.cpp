#include "platform/messagebox.h"

#include <QMessageBox>

namespace platform {

int QtMessageBox::show(const QString& text, int style, const QString& title)
{
    QMessageBox box(m_owner);
    box.setWindowTitle(title);
    box.setText(text);
    box.setTextFormat(Qt::PlainText);
    switch (style & 0x70) {
    case MsgCritical:
        box.setIcon(QMessageBox::Critical);
        break;
    case MsgQuestion:
        box.setIcon(QMessageBox::Question);
        break;
    case MsgExclamation:
        box.setIcon(QMessageBox::Warning);
        break;
    case MsgInformation:
        box.setIcon(QMessageBox::Information);
        break;
    default:
        box.setIcon(QMessageBox::NoIcon);
        break;
    }
    if ((style & 0xF) == MsgYesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? MsgResultYes : MsgResultNo;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return MsgResultOk;
}

} // namespace platform

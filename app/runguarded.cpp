#include "app/runguarded.h"

#include "hostlist/hostlistfile.h"
#include "platform/messagebox.h"

#include <exception>
#include <new>

void runGuarded(platform::MessageBox& messages, const QString& title, const std::function<void()>& command)
{
    try {
        command();
    } catch (const hostlist::HostListError& e) {
        messages.show(e.message(), platform::MsgExclamation, title);
    } catch (const std::bad_alloc&) {
        messages.show(QStringLiteral("There is not enough memory to finish the command."), platform::MsgExclamation,
                      title);
    } catch (const std::exception& e) {
        messages.show(QString::fromLocal8Bit(e.what()), platform::MsgExclamation, title);
    }
}

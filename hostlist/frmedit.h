#pragma once

#include "hostlist/hostlistfile.h"

#include <QDialog>
#include <QString>
#include <array>
#include <optional>

class CmdBtn;
class PropertyBag;
class QButtonGroup;
class QLabel;
class QLineEdit;
class QToolButton;

namespace platform {
class ImageList;
class MessageBox;
} // namespace platform

// The entry dialog: a name, an address and one of three icon types, either to be appended to the
// host list as a new entry ("insert") or to rewrite an existing one ("edit"). OK refuses an address
// that can never be probed (hostlist::addressProblem) and says so, naming the field; an empty name
// is taken, as the list file has always allowed it.
//
// One dialog serves one opening: the static entry points build a fresh one, run it modally over
// the owner and destroy it, so every opening starts from the same state.
class frmEdit : public QDialog
{
    Q_OBJECT

public:
    // Client area in twips.
    static constexpr int ClientWidthTwips = 3900;
    static constexpr int ClientHeightTwips = 2100;
    // What the user may type; loaded values may be longer.
    static constexpr int NameMaxLength = 25;
    // Host names and IPv6 addresses may be that long; a text that is an IPv4 address keeps
    // the old limit.
    static constexpr int AddressMaxLength = 253;
    static constexpr int Ipv4MaxLength = 15;

    struct Services
    {
        QString listPath; // list.txt, where inserts go
        QString title;    // the application title, for message boxes
        platform::MessageBox& messages;
        // The list pictures; null uses the compiled-in artwork.
        const platform::ImageList* images = nullptr;
        // The list as loaded, through which inserts and edits go so that it knows their lines
        // afterwards; null: inserts go to listPath directly and edits find no entry.
        hostlist::HostListFile* file = nullptr;
    };

    explicit frmEdit(const Services& services, QWidget* owner = nullptr);
    ~frmEdit() override;

    // Asks for a new entry and appends it to the list file: the entry written, with its key in
    // services.file (0 without one), or nothing.
    static std::optional<hostlist::KeyedHostLine> showInsert(QWidget* owner, const Services& services);
    // Shows the entry key of services.file; OK rewrites its line. type 1..3 selects that option;
    // any other leaves all three clear. The entry as stored, or nothing.
    static std::optional<hostlist::HostLine> showEdit(QWidget* owner, const Services& services, const QString& name,
                                                      const QString& address, int type, hostlist::EntryKey key = 0);

    // The set-ups the entry points run before showing the dialog; tests call them on a dialog
    // they show without blocking.
    void prepareInsert();
    void prepareEdit(const QString& name, const QString& address, int type, hostlist::EntryKey key = 0);

    // "insert" appends on OK, "edit" rewrites the entry; anything else shows the tag and stores
    // nothing.
    QString tag() const { return m_tag; }
    void setTag(const QString& tag) { m_tag = tag; }
    // 1..3 for the selected option, 0 when none is.
    int selectedType() const;
    // True once OK has appended an entry.
    bool appended() const { return m_appended; }
    // What OK appended or stored.
    std::optional<hostlist::KeyedHostLine> written() const { return m_written; }
    std::optional<hostlist::HostLine> stored() const { return m_stored; }

    void Form_Load();
    void cmdOk_Click();
    void CancelButton_Click();

    // The stored states the two buttons are loaded from.
    static PropertyBag okButtonState();
    static PropertyBag cancelButtonState();

    // Controls, under the names the handlers use. optType(i) and lbl(i) are the control arrays.
    QLabel* lbl(int index) const { return m_lbl.at(static_cast<std::size_t>(index)); }
    QToolButton* optType(int index) const { return m_optType.at(static_cast<std::size_t>(index - 1)); }
    QLineEdit* txtName = nullptr;
    QLineEdit* txtIP = nullptr;
    CmdBtn* cmdOk = nullptr;
    CmdBtn* CancelButton = nullptr;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void selectType(int type);
    // The entry as typed, or nothing after saying what is wrong with it.
    std::optional<hostlist::HostLine> typedEntry();

    Services m_services;
    QString m_tag;
    bool m_appended = false;
    hostlist::EntryKey m_key = 0;
    std::optional<hostlist::KeyedHostLine> m_written;
    std::optional<hostlist::HostLine> m_stored;
    std::array<QLabel*, 3> m_lbl{};
    std::array<QToolButton*, 3> m_optType{};
    QButtonGroup* m_types = nullptr;
};

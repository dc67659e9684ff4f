#pragma once

#include "app/mainservices.h"

namespace mdlMore {
class TrayIcon;
}

// The real dialogs: the entry dialog, the about box and the desktop's file manager.
class StandardDialogs : public MainDialogs
{
public:
    StandardDialogs(const platform::AppInfo& app, platform::MessageBox& messages) : m_app(app), m_messages(messages) {}

    std::optional<hostlist::KeyedHostLine> insertEntry(QWidget* owner, hostlist::HostListFile& file,
                                                       const platform::ImageList& pictures) override;
    std::optional<hostlist::HostLine> showEntry(QWidget* owner, hostlist::HostListFile& file,
                                                const platform::ImageList& pictures, hostlist::EntryKey key,
                                                const QString& name, const QString& address, int type) override;
    void about(QWidget* owner) override;
    std::optional<QVector<hostlist::HostLine>> importHosts(QWidget* owner,
                                                           const QVector<hostlist::HostLine>& existing) override;
    bool openFolder(const QString& folder) override;
    QString saveFile(QWidget* owner, const QString& title, const QString& suggestedPath,
                     const QString& filter) override;
    bool alerts(QWidget* owner, AlertSettings& settings) override;
    bool options(QWidget* owner, ProbeSettings& settings) override;

private:
    platform::AppInfo m_app;
    platform::MessageBox& m_messages;
};

// The real notification-area icon.
class SystemTray : public TrayPort
{
public:
    explicit SystemTray(mdlMore::TrayIcon& icon) : m_icon(icon) {}
    int notify(int action, const QIcon& icon, const QString& tip) override;
    bool showMessage(const QString& title, const QString& text, bool warning) override;
    void setMenu(QMenu* menu) override;
    bool reportsChanges() const override;

private:
    mdlMore::TrayIcon& m_icon;
};

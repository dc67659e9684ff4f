#pragma once

#include "mainservices.h"

namespace mdlMore {
class TrayIcon;
}

// The real dialogs: the entry dialog, the about box and the desktop's file manager.
class StandardDialogs : public MainDialogs
{
public:
    StandardDialogs(const platform::AppInfo& app, platform::MessageBox& messages) : m_app(app), m_messages(messages) {}

    void insertEntry(QWidget* owner, const QString& listPath, const platform::ImageList& pictures) override;
    void showEntry(QWidget* owner, const QString& listPath, const platform::ImageList& pictures, const QString& name,
                   const QString& address, int type) override;
    void about(QWidget* owner) override;
    bool openFolder(const QString& folder) override;

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

private:
    mdlMore::TrayIcon& m_icon;
};

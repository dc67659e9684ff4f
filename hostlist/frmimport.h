#pragma once

#include "hostlist/hostlistfile.h"

#include <QDialog>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;

// Many hosts at once, typed or pasted or read from a file: one host a line, as "name address",
// an address alone or a list.txt line. The preview shows what will be added and what is left out
// and why, as the text changes; OK is available once something would be added.
class frmImport : public QDialog
{
    Q_OBJECT

public:
    // existing: the hosts the list holds now, so that repeats are left out.
    explicit frmImport(QVector<hostlist::HostLine> existing, QWidget* owner = nullptr);

    // Puts a file's text in the box, read as a list is (UTF-8, or the legacy code page); false,
    // with the reason in error, when it cannot be read.
    bool loadFile(const QString& path, QString* error);
    const hostlist::ImportPlan& plan() const { return m_plan; }

    QPlainTextEdit* txtHosts = nullptr;
    QPushButton* cmdFile = nullptr;
    QTreeWidget* lstPreview = nullptr;
    QLabel* lblSummary = nullptr;
    QPushButton* cmdOk = nullptr;
    QPushButton* cmdCancel = nullptr;

private:
    void updatePreview();
    // The counts, and the whole reason of the current row when it is left out.
    void showSummary();

    QVector<hostlist::HostLine> m_existing;
    hostlist::ImportPlan m_plan;
};

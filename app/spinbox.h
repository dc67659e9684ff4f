#pragma once

#include <QSpinBox>
#include <QString>
#include <algorithm>

// A number box of the settings dialogs: named for tests, bounded, holding value brought into
// its range (a settings file may hold anything).
inline QSpinBox* boundedSpinBox(QWidget* parent, const char* name, int low, int high, int value,
                                const QString& suffix = {})
{
    auto* box = new QSpinBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setRange(low, high);
    box->setSuffix(suffix);
    box->setValue(std::clamp(value, low, high));
    return box;
}

#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVector>

// The hosts tivane-monitor probes, read from list.txt files and from Prometheus file_sd target
// files. Everything read here comes from files other people may write: each file is checked
// whole, and a file with any fault is refused as a whole with the reason.
namespace headless {

struct Target
{
    QString name;                  // what people call it; the address when none is given
    QString address;               // as written; probed, and the "host" label
    QMap<QString, QString> labels; // further labels to export, valid Prometheus names

    friend bool operator==(const Target&, const Target&) = default;
};

enum class TargetFormat
{
    Json,
    Yaml,
};

struct ParsedTargets
{
    QVector<Target> targets;
    QString error; // empty when the whole file was read
};

// The largest target or list file read; a bigger one is refused unread.
inline constexpr qint64 MaxFileBytes = qint64(8) << 20;
// Nesting deeper than a list of groups with a label map never occurs in a target file.
inline constexpr int MaxNesting = 8;

// A file_sd document: a list of {"targets": [ADDRESS...], "labels": {NAME: VALUE...}}. A "name"
// label is the display name; labels starting with "__" are Prometheus's own and left out.
ParsedTargets parseTargetFile(const QByteArray& data, TargetFormat format);
// Json for ".json", Yaml for ".yml" and ".yaml"; anything else is an error for the caller.
bool targetFormatFor(const QString& path, TargetFormat* format);

struct LoadedHosts
{
    QVector<Target> targets; // in file order; an address seen before is left out
    QStringList errors;      // one per file that could not be used: "FILE: why"
    QStringList warnings;    // addresses given twice
};

// Reads every list and target file. The caller keeps its previous hosts when errors is not empty.
LoadedHosts loadHosts(const QStringList& listFiles, const QStringList& targetFiles);

} // namespace headless

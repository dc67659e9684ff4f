#pragma once

#include "hostlist/hostline.h"

#include <QString>
#include <QStringView>
#include <QVector>

// Hosts pasted or read in bulk, sorted into what can be added and what cannot, with the reason.
namespace hostlist {

// What an import of many hosts at once would add, and what it leaves out and why.
struct ImportPlan
{
    struct Rejected
    {
        int line = 0; // 1-based line of the text
        QString text;
        QString why;
    };
    QVector<HostLine> accepted;
    QVector<Rejected> rejected;
};

// Reads one host a line: a list.txt line ("1|name|address"), a CSV line "name,address" (fields
// may be quoted, so a name can hold a comma), "name address" (the last word is the address, the
// words before it the name) or an address alone (which then names itself). Empty
// lines are skipped; a line whose address can never be probed, whose name holds a "|", or which
// repeats a host already in `existing` or earlier in the text, is rejected with the reason.
// New hosts get type 3 (unknown). At most MaxEntries lines are read.
ImportPlan planImport(QStringView text, const QVector<HostLine>& existing = {});

} // namespace hostlist

#pragma once

#include "probe/mdlping.h"

#include <QList>
#include <QSignalSpy>
#include <QVariant>

// An engine's reports as a spy holds them, each spread out as id, status, round trip in ms and
// in µs, and failure, so the cases compare fields by position.
inline QList<QList<QVariant>> spread(const QSignalSpy& finished)
{
    QList<QList<QVariant>> out;
    for (const QList<QVariant>& signal : finished) {
        const auto o = signal.at(1).value<mdlPing::Outcome>();
        out.append({signal.at(0), o.status, o.roundTripMs, o.roundTripUs, QVariant::fromValue(o.failure)});
    }
    return out;
}

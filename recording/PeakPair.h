#pragma once

#include <QList>
#include <QMetaType>

// The smallest and the largest sample of one 10 ms block of a recording (all
// channels), each divided by 32768, so both lie in -1..+1.
struct PeakPair {
    float min = 0.0f;
    float max = 0.0f;

    bool operator==(const PeakPair&) const = default;
};

using PeakList = QList<PeakPair>;

Q_DECLARE_METATYPE(PeakPair)

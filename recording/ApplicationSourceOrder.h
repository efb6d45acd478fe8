#pragma once

#include "platform/PulseAudioSources.h"

#include <QList>
#include <QStringList>

// The order of the application sources in the recording dialog: programs
// not listed before come first, in the server's order; the ones already
// listed follow in their earlier order, so a program keeps its place across
// refreshes and across openings of the dialog. Names compare exactly.
namespace ApplicationSourceOrder {

QList<AudioSessionProcess> arrange(const QList<AudioSessionProcess>& found, const QStringList& earlierOrder);

}  // namespace ApplicationSourceOrder

#pragma once

#include <QString>
#include <QVariant>

// Writes one value to the settings store only when it differs from the
// stored one. Every write makes QSettings rewrite and flush its whole file to
// disk on the GUI thread; the same value stored again (a playlist shown
// again at start) costs that for nothing.
namespace StoredSetting {

// True when the value was written.
bool setIfChanged(const QString& key, const QVariant& value);

}  // namespace StoredSetting

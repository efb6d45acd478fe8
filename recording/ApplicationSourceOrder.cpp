#include "recording/ApplicationSourceOrder.h"

namespace ApplicationSourceOrder {

QList<AudioSessionProcess> arrange(const QList<AudioSessionProcess>& found, const QStringList& earlierOrder)
{
    QList<AudioSessionProcess> ordered;
    for (const AudioSessionProcess& app : found) {
        if (!earlierOrder.contains(app.name))
            ordered.append(app);
    }
    QStringList placed;
    for (const QString& name : earlierOrder) {
        if (placed.contains(name))
            continue;  // a stored order may name a program twice
        placed.append(name);
        for (const AudioSessionProcess& app : found) {
            if (app.name == name) {
                ordered.append(app);
                break;
            }
        }
    }
    return ordered;
}

}  // namespace ApplicationSourceOrder

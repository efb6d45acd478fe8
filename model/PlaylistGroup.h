#pragma once

#include <QString>

// One playlist as the playlist tree holds it. Its sort order is stored beside
// it in the database but is not part of the record.
struct PlaylistGroup {
    int id = -1;  // -1 = not stored yet
    QString name;
    QString groupTag;
    bool isGroupHeader = false;
    int playMode = 1;  // a CueManager::PlayMode value; 1 = ListLoop
    int currentIndex = 0;
};

#pragma once

#include <QString>

// The outcome of importing one project or M3U8 file. On success the
// playlist tree reloads, selects playlistId and shows statusText for 3 s.
struct PlaylistImportResult {
    int playlistId = -1;
    QString statusText;
    bool succeeded() const { return playlistId > 0; }
};

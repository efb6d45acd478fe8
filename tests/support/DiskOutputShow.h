#pragma once

#include <QString>
#include <QtGlobal>

#include <memory>
#include <vector>

class MainWindow;

// A one-cue playlist played through the main window on SDL's "disk" driver,
// which writes every block the device plays to a file: what the audience
// heard, frame by frame.
class DiskOutputShow {
public:
    // The driver writes to a file in folder, and the database is made there.
    // Before any SDL initialisation in this process.
    bool initialize(const QString& folder);
    // A playlist "show" of one cue playing file (its whole length the loop
    // region, peaks stored, so nothing is parsed).
    bool storeCue(const QString& name, const QString& file, qint64 durationMs, const QString& color = {});
    int playlistId() const { return m_playlist; }
    int cueId() const { return m_cueId; }

    // Opens the main window, shows the playlist and selects the cue as the
    // operator does: a click on its row in the tree, then on the cue's
    // duration cell. Fails the running test when the table is not as stored.
    void openWithCueSelected(std::unique_ptr<MainWindow>& window) const;

    // What the device was given, interleaved stereo. Read once the window is
    // gone: closing the device flushes the file.
    std::vector<float> deviceOutput() const;
    // Frames the device has played so far (the driver writes as it plays):
    // a wait in played time, which a loaded machine cannot shorten.
    qint64 framesPlayed() const;

private:
    QString m_outputFile;
    int m_playlist = -1;
    int m_cueId = -1;
};

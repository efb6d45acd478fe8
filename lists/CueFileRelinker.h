#pragma once

#include <QCoreApplication>
#include <QWidget>
#include <QList>
#include <QPointer>
#include <QString>

#include <functional>

class Cue;
class CueManager;
class TrackListUi;
class WaveformParseQueue;

// Points cues at audio files again: the plain replacement of a cue's audio
// (menu, drop), the search of a folder for the files of missing cues, and the
// dialog for one missing cue. A file is taken as the lost one when its name
// is the same and its length within 100 ms; another file replaces the audio
// but resets what belonged to the old one. A file that does not decode never
// replaces anything.
//
// Works for the cue table: asks through its TrackListUi, parents dialogs to
// it and has it refreshed; the folder walks run off the GUI thread.
class CueFileRelinker {
    Q_DECLARE_TR_FUNCTIONS(TrackListManager)

public:
    struct Host {
        std::function<TrackListUi*()> ui;
        QPointer<QWidget> dialogParent;
        std::function<void()> refreshTable;
        std::function<void(const QString& message, int timeout)> statusMessage;
        std::function<QString()> lastImportPath;
    };

    CueFileRelinker(CueManager* registry, WaveformParseQueue* parseQueue, Host host);

    // Points the cue at the file; false (nothing changed) for a null cue, a
    // path that is no file, or a file that does not decode.
    bool replaceCueFile(Cue* cue, const QString& path);
    // The menu's replacement: one chosen file for all the cues.
    void replaceWithChosenFile(const QList<Cue*>& cues);
    // Asks for folders and looks for the cues' files until all are found or
    // the operator stops.
    void searchFolders(const QList<Cue*>& missing);
    // The dialog for one missing cue: a file, or a folder to look in.
    void replaceCueAudio(Cue* cue);

    // A folder is being walked (events run meanwhile).
    bool isBusy() const { return m_busy; }

private:
    // Stops playback (asking the registry, so nothing else starts) and lets
    // the engine drop every decoded file.
    void releaseEngine();
    QString startFolder(const QString& fallback) const;
    static void rememberFolder(const QString& folder);
    static QString displayName(const Cue& cue);

    CueManager* m_registry;
    WaveformParseQueue* m_parseQueue;
    Host m_host;
    bool m_busy = false;
};

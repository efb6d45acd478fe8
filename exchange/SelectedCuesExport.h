#pragma once

#include "exchange/ExportNames.h"

#include <QList>
#include <QPointer>
#include <QString>

#include <functional>

class Cue;
class ExportUi;
class QWidget;

// The cue table's export of its selected cues as WAV or MP3 files into a
// folder the operator chooses, with a progress dialog that can be cancelled
// and a summary at the end. Existing files are never replaced.
class SelectedCuesExport {
public:
    struct Item {
        QPointer<Cue> cue;
        int row = 0;  // row in the cue table; numbers the file when asked
    };

    // What the export reads from the settings when it starts.
    struct Settings {
        QString format;  // "MP3" selects MP3, anything else WAV
        bool clip = false;
        bool processed = false;
        int sampleRate = 44100;
        ExportNames::CueNaming naming;
        QString lastDir;
        static Settings read();
    };

    struct Summary {
        bool started = false;  // a folder was chosen
        int succeeded = 0;
        int failed = 0;
        QString folder;
    };

    // The whole action of the table's export entry: checks the selection
    // (rows with their cues, in selection order), shows the busy overlay and
    // 100 ms later runs the export. Dialogs are parented to tableView.
    static void start(QWidget* tableView, const QList<Item>& selected,
                      std::function<void(const QString&, int)> statusMessage);

    // The export itself, from the folder chooser to the summary.
    static Summary run(const QList<Item>& items, const Settings& settings, ExportUi& ui);
};

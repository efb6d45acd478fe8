#pragma once

#include "app/MainWindow.h"
#include "app/Startup.h"
#include "lists/SongTableModel.h"
#include "model/Cue.h"
#include "model/DatabaseManager.h"
#include "model/PlaylistGroup.h"
#include "playback/AudioEngine.h"
#include "playback/CueManager.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsWriter.h"
#include "support/TestAudio.h"
#include "waveform/WaveformWidget.h"

#include <QApplication>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <memory>

// The whole main window over a database in a temporary folder: playlist
// "first" of three cues on generated WAV files (A, B, C, 4 s each) and
// playlist "second" of two (D, E). The window runs the real transport on
// SDL's dummy driver; the cue registry and the transport are the process's
// singletons, so the cues are stored before the first window is made and
// every test starts from a stopped transport with an empty play order.
class MainWindowFixture {
public:
    QTemporaryDir dir;
    int firstPlaylist = -1;
    int secondPlaylist = -1;
    QList<int> firstIds;
    QList<int> secondIds;
    std::unique_ptr<MainWindow> window;

    static DatabaseManager* db() { return DatabaseManager::instance(); }
    static CueManager* cues() { return CueManager::instance(); }
    static AudioEngine* transport() { return AudioEngine::instance(); }

    // Once per test program, before any window.
    bool initOnce()
    {
        Startup::setApplicationNames();
        if (!db()->initialize(dir.filePath("main.db")))
            return false;
        firstPlaylist = storePlaylist(QStringLiteral("first"), {"A", "B", "C"}, &firstIds);
        secondPlaylist = storePlaylist(QStringLiteral("second"), {"D", "E"}, &secondIds);
        return firstPlaylist > 0 && secondPlaylist > 0;
    }

    // Settings every test starts from: pauses without a fade, so that a
    // pause is one step.
    void resetSettings()
    {
        SettingsWriter::flush();  // nothing of the last test lands later
        QSettings settings;
        settings.clear();
        settings.setValue(SettingsKeys::kPauseFadeEnabled, false);
    }

    void open()
    {
        window = std::make_unique<MainWindow>();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }

    void close()
    {
        cues()->stopPlaylist();
        cues()->setPlaylist({});
        cues()->setPlayMode(CueManager::ListLoop);
        window.reset();
        for (int id : {firstPlaylist, secondPlaylist})
            db()->execute(QStringLiteral("UPDATE playlist_groups SET play_mode = 1 WHERE id = ?"), {id});
    }

    template <typename T = QWidget>
    T* widget(const char* name) const
    {
        return window->findChild<T*>(QString::fromLatin1(name));
    }
    QTableView* table() const { return widget<QTableView>("trackList"); }
    QTreeView* tree() const { return widget<QTreeView>("playlistGroup"); }
    WaveformWidget* waveform() const { return widget<WaveformWidget>("waveformWidget"); }
    QPushButton* button(const char* name) const { return widget<QPushButton>(name); }
    QString status() const { return window->statusBar()->currentMessage(); }

    Cue* cue(int playlistId, int row) const
    {
        const QList<int>& ids = playlistId == firstPlaylist ? firstIds : secondIds;
        return cues()->getCue(ids.at(row));
    }

    // Shows a playlist the way the operator does: a click on its row.
    void showPlaylist(int playlistId)
    {
        QAbstractItemModel* model = tree()->model();
        for (int row = 0; row < model->rowCount(); ++row) {
            const QModelIndex index = model->index(row, 0);
            if (index.data(Qt::UserRole).toInt() != playlistId)
                continue;
            QTest::mouseClick(tree()->viewport(), Qt::LeftButton, {}, tree()->visualRect(index).center());
            return;
        }
        QFAIL("playlist not in the tree");
    }

    void clickRow(int row)
    {
        const QModelIndex index = table()->model()->index(row, SongTableModel::DurationColumn);
        table()->scrollTo(index);
        QTest::mouseClick(table()->viewport(), Qt::LeftButton, {}, table()->visualRect(index).center());
    }

    int selectedRow() const
    {
        const QModelIndexList rows = table()->selectionModel()->selectedRows();
        return rows.size() == 1 ? rows.first().row() : -1;
    }

    Cue* playingCue() const { return cues()->getCurrentCue(); }

private:
    int storePlaylist(const QString& name, const QStringList& cueNames, QList<int>* ids)
    {
        PlaylistGroup group;
        group.name = name;
        int sortOrder = 0;
        db()->getNextGroupSortOrder(sortOrder);
        if (!db()->insertPlaylistGroup(group, sortOrder))
            return -1;
        int order = 0;
        for (const QString& cueName : cueNames) {
            const QString path = dir.filePath(cueName + QStringLiteral(".wav"));
            TestAudio::WavSpec spec;
            spec.seconds = 4.0;
            spec.frequency = 330.0 + 110.0 * order;
            if (!TestAudio::writeWav(path, spec))
                return -1;
            Cue cue(-1, cueName, path);
            cue.setDuration(4000);
            cue.setLoopRange(0, 4000, true);
            cue.setColor(QStringLiteral("#4a5a6a"));
            cue.setWaveform(QList<float>(Cue::kWaveformTargetPoints, 0.5f));
            if (!cue.saveToDatabase(true) || !db()->insertPlaylistSong(group.id, cue.id(), order++))
                return -1;
            ids->append(cue.id());
        }
        return group.id;
    }
};

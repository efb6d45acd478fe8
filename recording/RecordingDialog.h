#pragma once

#include "platform/PulseAudioSources.h"
#include "recording/AutoStopMode.h"
#include "recording/PeakPair.h"
#include "recording/RecordingEditHistory.h"

#include <QByteArray>
#include <QDateTime>
#include <QDialog>
#include <QElapsedTimer>
#include <QHash>
#include <QItemSelection>
#include <QList>
#include <QPersistentModelIndex>
#include <QPoint>
#include <QPointer>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class AudioOutputDevice;
class MediaSessionWatcher;
class PulseAudioCapture;
class QCheckBox;
class QComboBox;
class QIcon;
class QLabel;
class QListView;
class QListWidget;
class QListWidgetItem;
class QMessageBox;
class QPushButton;
class QShortcut;
class QStandardItem;
class QStandardItemModel;
class QTimer;
class RecordingItemDelegate;
class RecordingJobQueue;
class RecordingWaveformWidget;
template <class T>
class QFutureWatcher;

// Records system, application or capture-device audio into files, lets the
// operator trim, audition, edit, rename and export them, and hands the ones
// kept to the main window (recordingsConfirmed) when confirmed.
//
// Capture: a PulseAudio stream delivers 16-bit stereo on its own thread into
// recordedPcm (under captureMutex); a 50 ms timer turns new audio into peaks
// for the waveform. On stop the audio is trimmed and written as WAV or MP3
// into the recordings folder.
// Files: saving, writing edits back, loading a recording for the editor and
// exporting run one after the other on a worker (RecordingJobQueue), never on
// the GUI thread; results come back by queued calls. Confirming and closing
// wait for that work, so no recording is lost or left behind.
// Editing: the selected recording is decoded to 16-bit stereo 44100 Hz in
// editPcm; cuts made in the waveform are made on that audio too, and written
// back when the operator moves on. A cut of a long recording is built on the
// worker, in order with the file work, and swapped in when it lands; the
// waveform shows it at once. The preview plays editPcm through SDL.
// Sources: capture devices, the whole output and the programs playing sound,
// read from the sound server on a worker every 2 s.
// Smart end: the media session (MPRIS on the session bus) or the level
// decides when a recorded track has ended.
class RecordingDialog : public QDialog {
    Q_OBJECT

public:
    enum State { Idle = 0, Recording = 1, RecordingPaused = 2, Playing = 3, PlaybackPaused = 4 };

    explicit RecordingDialog(QWidget* parent = nullptr);
    ~RecordingDialog() override;

    // Capture and files.
    void onRecordClicked();
    void startRecording();
    void stopRecording();
    void toggleRecordingPause();
    void appendCapturedAudio(const char* data, int bytes);  // capture thread
    double recentRms() const;
    void writeEditedFile(const QString& path);
    void saveEditsIfModified();
    static QString formatTime(qint64 ms);

    // A recording that could not be saved stays in memory until it is saved
    // again (folder empty: the recordings folder) or given up.
    int unsavedRecordingCount() const { return int(unsavedRecordings.size()); }
    void retryUnsavedRecordings(const QString& folder = QString());
    void discardUnsavedRecordings();
    // File work under way (saving, writing edits, loading, exporting).
    bool isBusyWithFiles() const;

    // Editor and preview.
    void loadForEditing(const QString& path, qint64 maxFrames);
    QList<PeakPair> computePeaks(const QByteArray& pcm, int channels) const;
    static QList<PeakPair> loadFilePeaks(const QString& path, qint64* durationMs);
    static QList<PeakPair> loadWavPeaks(const QString& path, qint64* durationMs);
    void onPlayPauseClicked();
    void startPlayback();
    void deleteCurrentRecording();
    void onStopClicked();
    void updateTransportButtons();

    // Sources.
    void populateSources(const RecordingSourceList& sources);
    void refreshApplicationSources(const RecordingSourceList& sources);
    void restoreLastSource();
    void setLastSource(const QString& text);
    QString checkedSourceText() const;

    // Smart end.
    static AutoStopMode defaultAutoStopMode(const QString& name);
    AutoStopMode autoStopModeFor(const QString& name) const;
    void loadSmtcOverrides();
    void saveSmtcOverrides();
    static QIcon makeModeIcon(QChar letter, const QColor& color);
    void updateSourceItemIcon(QListWidgetItem* item);
    void updateAllSourceItemIcons();
    void updateAutoStopModeIcon();
    void updateAutoStopWarning();
    void toggleAutoStopMode();
    void startMediaSessionWatcher(unsigned int pid);
    void stopMediaSessionWatcher();

    // The folder new recordings go to; empty (the default) chooses beside
    // the program or in the data folder at each save.
    void setRecordingsFolder(const QString& folder) { recordingsFolder = folder; }
    QString recordingsFolderPath() const;

signals:
    // The recordings the operator kept, in list order; emitted by the
    // confirm while the dialog is still open.
    void recordingsConfirmed(QStringList filePaths);

public slots:
    void onExport();
    void onConfirm();
    void onOpenRecordingDir();
    void onRecordingSelected();
    void stopPlayback();
    void onRecordingDataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                                const QList<int>& roles);
    void onRangeDeleted(qint64 startMs, qint64 endMs);
    void onRangeKept(qint64 startMs, qint64 endMs);
    void onUndoPerformed();
    void checkAutoStop();
    void done(int result) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private slots:
    void flushWaveform();
    void onIndicatorTick();
    void onRecordingSelectionChanged(const QItemSelection& selected, const QItemSelection& deselected);
    void onWaveformSelectionChanged(bool hasSel);
    void onWaveformSelectionRangeChanged(qlonglong startMs, qlonglong endMs);
    void onWaveformPlaybackPosChanged(qlonglong ms);
    void onWaveformDurationChanged(qlonglong ms);
    void onSourceItemClicked(QListWidgetItem* item);
    void requestSourceList();

private:
    struct UnsavedRecording {
        QByteArray pcm;
        int channels = 2;
        int sampleRate = 44100;
        QString suffix;
    };
    struct SaveOutcome {
        QString path;
        qint64 durationMs = 0;
        QString error;
        QString fallback;  // why the first folder was passed over for the one in path
        UnsavedRecording recording;  // the audio, kept when it could not be written
    };
    struct LoadedAudio {
        QByteArray pcm;
        QList<PeakPair> peaks;
    };

    void setupUi();
    static void captureDataCallback(void* userData, const char* data, int bytes);
    static void previewDataCallback(void* userData, float* out, int frames);
    void renderPreview(float* out, int frameCount);
    void updatePlaybackPosition();
    void showIndicator(const QString& color, double opacity);
    void addRecordingItem(const QString& path, qint64 durationMs);
    void queueSave(UnsavedRecording recording, bool trimSilence, bool trackChanged, const QString& folder);
    void onRecordingSaved(const SaveOutcome& outcome);
    static SaveOutcome saveInBackground(UnsavedRecording recording, bool trimSilence, bool trackChanged,
                                        const QString& folder, const QString& word, const QDateTime& time);
    // Tries each folder in turn; *fallback says why the first was passed over
    // when a later one took the file.
    static QString writeRecordingFile(const QStringList& folders, const UnsavedRecording& recording,
                                      const QString& word, const QDateTime& time, QString* error,
                                      QString* fallback = nullptr);
    void reportSaveFallback(const QString& fallback, const QString& savedFolder);
    void reportSaveFailure(const QString& error);
    void onRecordingLoaded(quint64 generation, const LoadedAudio& audio);
    void releaseEditor();
    // Hands the audio that arrived since the last flush to the waveform, in
    // whole 10 ms blocks; at the end of a recording (last) also the short
    // block that remains.
    void flushWaveformPeaks(bool last);
    bool editModified() const;
    void recomputeEditLength();
    // Swaps next in as the edited audio with the preview device locked (the
    // old buffer is freed after the lock, on the worker when large); a
    // preview that plays or is paused goes on at frameAfter(its frame).
    void swapEditAudio(QByteArray next, const std::function<qint64(qint64)>& frameAfter);
    // Makes state the editor's audio: at once when it is small and nothing
    // is in flight, else on the worker after the edits before it (build
    // null: the state is filled already, as an undo's is).
    void applyEdit(const RecordingEditHistory::StatePtr& from, const RecordingEditHistory::StatePtr& to,
                   std::function<QByteArray(const QByteArray&)> build, std::function<qint64(qint64)> frameAfter);
    // Large buffers are freed on the worker: unmapping 100 MB takes tens of ms.
    void freeOnWorker(QByteArray pcm, QList<RecordingEditHistory::StatePtr> states = {});
    void updateWaveformInteractivity();
    bool openPreviewDevice();
    void closePreviewDevice();
    QStandardItem* currentRecordingItem() const;
    QListWidgetItem* checkedApplicationItem() const;
    QListWidgetItem* addSourceHeader(const QString& text);
    QListWidgetItem* addAllSourceItem();
    void addApplicationItems(const QList<AudioSessionProcess>& found, const QStringList& earlierOrder);
    void onSourceListReady(const RecordingSourceList& sources);
    void renameRecording(const QPersistentModelIndex& index);
    bool refuseWhileUnsaved();
    void finishConfirm();
    void finishClosing(int result);
    void setWaitingForFiles(bool waiting);
    int showMessage(int icon, const QString& title, const QString& text);

    // Widgets (children of the dialog).
    QWidget* titleBar = nullptr;
    QLabel* titleLabel = nullptr;
    QPushButton* closeButton = nullptr;
    QListWidget* sourceList = nullptr;
    QLabel* recordIndicator = nullptr;
    QPushButton* playPauseButton = nullptr;
    QPushButton* stopButton = nullptr;
    QPushButton* exportButton = nullptr;
    QCheckBox* trimSilenceCheck = nullptr;
    QCheckBox* autoStopCheck = nullptr;
    QLabel* autoStopModeIcon = nullptr;
    QComboBox* formatCombo = nullptr;
    QComboBox* sampleRateCombo = nullptr;
    QPushButton* confirmButton = nullptr;
    QPushButton* openFolderButton = nullptr;
    QLabel* autoStopWarningLabel = nullptr;
    QLabel* timeLabel = nullptr;
    QLabel* selectionLabel = nullptr;
    QListView* recordingsView = nullptr;
    QStandardItemModel* recordingsModel = nullptr;
    RecordingWaveformWidget* waveform = nullptr;
    RecordingItemDelegate* itemDelegate = nullptr;
    QPoint dragOffset;
    bool dragging = false;

    // Sources and settings.
    QString lastSource;
    QTimer* sourceRefreshTimer = nullptr;
    bool trimSilence = true;
    bool autoStop = false;
    QString format = QStringLiteral("mp3");
    int sampleRate = 44100;
    bool processLoopbackSupported = false;
    bool sourcesPopulated = false;
    // Reads the sources on a worker; tests put their own lists in its place.
    std::function<RecordingSourceList()> listSources;
    QFutureWatcher<RecordingSourceList>* sourceQuery = nullptr;

    // Capture.
    int state = Idle;
    QTimer* indicatorTimer = nullptr;
    QTimer* waveformTimer = nullptr;
    int indicatorPhase = 0;
    QElapsedTimer recordClock;
    qint64 accumulatedMs = 0;
    std::atomic<bool> capturePaused{false};
    quint32 sourcePid = 0;
    std::unique_ptr<PulseAudioCapture> captureDevice;
    QByteArray pendingPcm;
    // The frames of the last flush that did not fill a whole peak block: the
    // next flush finishes that block, so every peak stands for exactly 10 ms.
    QByteArray peakCarry;
    QByteArray recordedPcm;
    // Standard, so ThreadSanitizer sees the audio the capture thread hands over.
    mutable std::mutex captureMutex;
    int captureChannels = 2;
    int captureSampleRate = 44100;
    QString recordingsFolder;
    // Asks for a folder (title, where to start; empty when cancelled). Tests
    // answer in its place: Qt's own folder chooser reads the disk on a thread
    // of its own, whose hand-overs ThreadSanitizer cannot see.
    std::function<QString(const QString&, const QString&)> chooseFolder;
    QList<UnsavedRecording> unsavedRecordings;
    QPointer<QMessageBox> saveFailureBox;
    int savesInFlight = 0;

    // Smart end.
    std::atomic<bool> autoStopActive{false};
    QTimer* autoStopTimer = nullptr;
    qint64 silenceMs = 0;
    bool heardSound = false;
    std::atomic<bool> smtcWatcherRunning{false};
    std::atomic<bool> smtcStopRequested{false};
    std::atomic<bool> smtcTrackChanged{false};
    bool smtcActive = false;
    MediaSessionWatcher* mediaSessionWatcher = nullptr;
    QHash<QString, AutoStopMode> smtcOverrides;

    // Editor and preview. The preview callback reads editPcm; the GUI thread
    // replaces it only while the preview device is locked.
    std::unique_ptr<AudioOutputDevice> previewDevice;
    qint64 editFrames = 0;
    std::atomic<qint64> playFrame{0};
    int editSampleRate = 44100;
    int editChannels = 2;
    qint64 editDurationMs = 0;
    QString previewPath;
    std::atomic<qint64> loopStartFrame{0};
    std::atomic<qint64> loopEndFrame{0};
    std::atomic<qint64> pendingSeekFrame{-1};
    QByteArray editPcm;
    QString editPath;
    std::atomic<qint64> playByteOffset{0};
    // The edits asked for: the current state may still be built on the worker.
    RecordingEditHistory editHistory;
    int editsInFlight = 0;
    // Bumped when the editor lets go of its recording: edits still in flight
    // for it land nowhere (a write-back queued after them still writes them).
    quint64 editGeneration = 0;
    // Up to about 6 s of audio an edit is copied at once: about 2 ms on a
    // quiet machine, less than a trip to the worker and back.
    static constexpr qint64 kInlineEditBytes = 1 << 20;
    quint64 loadGeneration = 0;
    bool loadPending = false;
    bool playWhenLoaded = false;
    // Set by the preview callback at the end of the audio; the 50 ms tick
    // stops the preview (the callback itself posts nothing).
    std::atomic<bool> previewEnded{false};

    // List, confirm and close.
    bool updatingItem = false;
    QShortcut* returnShortcut = nullptr;
    bool confirmPending = false;
    bool closeRequested = false;
    RecordingJobQueue* jobs = nullptr;

    friend class RecordingDialogTest;
    friend class RecordingWindowTest;
    friend class RecordingListTest;
    friend class RecordingCaptureTest;
    friend class RecordingSourcesTest;
    friend class AutoStopTest;
    friend class RecordingFlowTest;
    friend class MediaSessionWatcherTest;
    friend class RecordingBench;
};

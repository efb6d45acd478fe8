#pragma once

#include "recording/PeakPair.h"

#include <QByteArray>
#include <QDialog>
#include <QElapsedTimer>
#include <QItemSelection>
#include <QList>
#include <QMutex>
#include <QPointer>
#include <QString>

#include <atomic>
#include <memory>

class AudioOutputDevice;
class PulseAudioCapture;
class QCheckBox;
class QComboBox;
class QLabel;
class QListView;
class QListWidget;
class QMessageBox;
class QPushButton;
class QStandardItem;
class QStandardItemModel;
class QTimer;
class RecordingWaveformWidget;

// Records system, application or capture-device audio into files, and lets
// the operator trim, audition and edit them before handing them on.
//
// Capture: a PulseAudio stream delivers 16-bit stereo on its own thread into
// recordedPcm (under captureMutex); a 50 ms timer turns new audio into peaks
// for the waveform. On stop the silence is trimmed and the audio written as
// WAV or MP3 into the recordings folder.
// Editing: the selected recording is decoded to 16-bit stereo 44100 Hz in
// editPcm; cuts made in the waveform are made on editPcm too, and written
// back when the operator moves on. The preview plays editPcm through SDL.
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
    void trimTrackChangeTail();
    QString saveRecording();
    bool writeEditedFile(const QString& path);
    void saveEditsIfModified();
    static QString formatTime(qint64 ms);

    // A recording that could not be saved stays in memory until it is saved
    // here (folder empty: the recordings folder) or given up.
    int unsavedRecordingCount() const { return int(unsavedRecordings.size()); }
    bool retryUnsavedRecordings(const QString& folder = QString());
    void discardUnsavedRecordings();

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

    // The folder new recordings go to; empty (the default) chooses beside
    // the program or in the data folder at each save.
    void setRecordingsFolder(const QString& folder) { recordingsFolder = folder; }
    QString recordingsFolderPath() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

public slots:
    void onRecordingSelected();
    void stopPlayback();
    void onRangeDeleted(qint64 startMs, qint64 endMs);
    void onRangeKept(qint64 startMs, qint64 endMs);
    void onUndoPerformed();

private slots:
    void flushWaveform();
    void onIndicatorTick();
    void onRecordingSelectionChanged(const QItemSelection& selected, const QItemSelection& deselected);
    void onWaveformSelectionChanged(bool hasSel);
    void onWaveformSelectionRangeChanged(qlonglong startMs, qlonglong endMs);
    void onWaveformPlaybackPosChanged(qlonglong ms);
    void onWaveformDurationChanged(qlonglong ms);

private:
    struct UnsavedRecording {
        QByteArray pcm;
        int channels = 2;
        int sampleRate = 44100;
        QString suffix;
    };

    void setupUi();
    static void captureDataCallback(void* userData, const char* data, int bytes);
    static void previewDataCallback(void* userData, float* out, int frames);
    void renderPreview(float* out, int frameCount);
    QString checkedSourceText() const;
    void updatePlaybackPosition();
    void showIndicator(const QString& color, double opacity);
    void addRecordingItem(const QString& path, qint64 durationMs);
    QString writeRecordingFile(const QString& folder, const UnsavedRecording& recording, QString* error);
    void reportSaveFailure(const QString& error);
    void recomputeEditLength();
    bool openPreviewDevice();
    void closePreviewDevice();
    QStandardItem* currentRecordingItem() const;

    // Widgets (children of the dialog).
    QListWidget* sourceList = nullptr;
    QLabel* recordIndicator = nullptr;
    QPushButton* playPauseButton = nullptr;
    QPushButton* stopButton = nullptr;
    QCheckBox* trimSilenceCheck = nullptr;
    QComboBox* formatCombo = nullptr;
    QComboBox* sampleRateCombo = nullptr;
    QLabel* timeLabel = nullptr;
    QLabel* selectionLabel = nullptr;
    QListView* recordingsView = nullptr;
    QStandardItemModel* recordingsModel = nullptr;
    RecordingWaveformWidget* waveform = nullptr;

    // Settings.
    bool trimSilence = true;
    QString format = QStringLiteral("mp3");
    int sampleRate = 44100;

    // Capture.
    int state = Idle;
    QTimer* indicatorTimer = nullptr;
    QTimer* waveformTimer = nullptr;
    int indicatorPhase = 0;
    QElapsedTimer recordClock;
    qint64 accumulatedMs = 0;
    std::atomic<bool> capturePaused{false};
    quint32 sourcePid = 0;
    std::atomic<bool> smtcTrackChanged{false};
    std::unique_ptr<PulseAudioCapture> captureDevice;
    QByteArray pendingPcm;
    QByteArray recordedPcm;
    mutable QMutex captureMutex;
    int captureChannels = 2;
    int captureSampleRate = 44100;
    QString recordingsFolder;
    QList<UnsavedRecording> unsavedRecordings;
    QPointer<QMessageBox> saveFailureBox;

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
    QList<QByteArray> editUndoStack;
    // Set by the preview callback at the end of the audio; the 50 ms tick
    // stops the preview (the callback itself posts nothing).
    std::atomic<bool> previewEnded{false};

    friend class RecordingDialogTest;
    friend class RecordingCaptureTest;
};

#pragma once

#include <QList>
#include <QObject>
#include <QString>

// One audio file with every setting that decides how it plays. Setters
// normalise their argument, ignore an unchanged value, mark the cue dirty and
// announce the change. The loop region stays at least kMinLoopMs long or
// covers the whole file.
//
// A cue belongs to the GUI thread. The playback engine never reads it from
// the audio thread: it takes its own snapshot of the values it renders.
class Cue : public QObject {
    Q_OBJECT

public:
    static constexpr qint64 kMinLoopMs = 2000;
    static constexpr qint64 kMaxFadeMs = 20000;
    static constexpr double kLufsNotMeasured = -999.0;
    static constexpr int kWaveformTargetPoints = 2000;

    explicit Cue(QObject* parent = nullptr);
    Cue(int id, const QString& name, const QString& filePath, QObject* parent = nullptr);
    ~Cue() override;

    // Read accessors
    int id() const { return m_id; }
    QString name() const { return m_name; }
    QString alias() const { return m_alias; }
    QString filePath() const { return m_filePath; }
    qint64 durationMs() const { return m_durationMs; }
    QString remark() const { return m_remark; }
    QString color() const { return m_color; }
    double lufs() const { return m_lufs; }
    bool isBadFile() const { return m_isBadFile; }
    QList<float> waveform() const { return m_waveform; }
    bool waveformDirty() const { return m_waveformDirty; }
    int volumeA() const { return m_volumeA; }
    int volumeB() const { return m_volumeB; }
    int volumeChoose() const { return m_volumeChoose; }
    // The choice a save stores: the held one while show mode plays the cue
    // on volume A, else the current one.
    int storedVolumeChoose() const { return m_heldVolumeChoose >= 0 ? m_heldVolumeChoose : m_volumeChoose; }
    bool hasHeldVolumeChoose() const { return m_heldVolumeChoose >= 0; }
    int preWaitMs() const { return m_preWaitMs; }
    int loopCount() const { return m_loopCount; }
    bool fadeEnabled() const { return m_fadeEnabled; }
    qint64 fadeInMs() const { return m_fadeInMs; }
    qint64 fadeOutMs() const { return m_fadeOutMs; }
    bool envelopeEnabled() const { return m_envelopeEnabled; }
    QList<qint64> envelopeTimes() const { return m_envelopeTimes; }
    QList<double> envelopeGains() const { return m_envelopeGains; }
    bool panEnvelopeEnabled() const { return m_panEnvelopeEnabled; }
    QList<qint64> panEnvelopeTimes() const { return m_panEnvelopeTimes; }
    QList<double> panEnvelopePositions() const { return m_panEnvelopePositions; }
    qint64 loopStartMs() const { return m_loopStartMs; }
    qint64 loopEndMs() const { return m_loopEndMs; }
    qint64 startMarkingMs() const { return m_startMarkingMs; }
    bool isDirty() const { return m_isDirty; }
    bool isLoading() const { return m_isLoading; }
    bool isImporting() const { return m_isImporting; }

    // Flags written directly by the loaders and by the registry's cue creation.
    void setLoading(bool loading) { m_isLoading = loading; }
    void setImporting(bool importing) { m_isImporting = importing; }
    void clearDirty() { m_isDirty = false; }
    void clearWaveformDirty() { m_waveformDirty = false; }

    // Setters
    void setId(int id);
    void setName(const QString& name);
    void setAlias(const QString& alias);
    void setRemark(const QString& remark);
    void setFilePath(const QString& filePath);
    void setColor(const QString& color);
    void setDuration(qint64 ms);
    void setLufs(double lufs);
    void setBadFile(bool bad);
    void setWaveform(const QList<float>& waveform);
    void setVolumeA(int volume);
    void setVolumeB(int volume);
    void setVolumeChoose(int choose);
    // Keeps the cue's own choice for its saves (and copies and exports) while
    // the current choice is switched for a while; release() ends that.
    void holdVolumeChoose(int choose);
    void releaseVolumeChoose() { m_heldVolumeChoose = -1; }
    void setPreWait(int ms);
    void setLoopCount(int count);
    void setFadeEnabled(bool enabled);
    void setFadeDurations(qint64 fadeInMs, qint64 fadeOutMs);
    void setStartMarking(qint64 ms);
    void setLoopRange(qint64 startMs, qint64 endMs, bool skipSave = false);
    void setLoopStartMs(qint64 ms);
    void resetLoopRange();
    void validateLoopRange();
    void setVolumeEnvelope(const QList<qint64>& times, const QList<double>& gains);
    void setPanEnvelope(const QList<qint64>& times, const QList<double>& positions);
    void setEnvelopeEnabled(bool enabled);
    void setPanEnvelopeEnabled(bool enabled);

    // Envelope values at a time: gain 0..1 (1 when off), pan -1..1 (0 when off).
    double volumeAt(qint64 ms) const;
    double panAt(qint64 ms) const;

    // Storage
    bool saveToDatabase(bool force = false);
    bool loadFromDatabase(int id);
    bool deleteFromDatabase();
    bool loadFromAudioFile(const QString& path);

    // Playlist membership
    bool addToPlaylist(int playlistId, int position);
    bool removeFromPlaylist(int playlistId);
    QList<int> getPlaylistIds() const;

    // Assigns stored envelope rows as they are, without sorting or checks.
    void assignStoredEnvelopes(const QList<qint64>& times, const QList<double>& gains);
    void assignStoredPanEnvelope(const QList<qint64>& times, const QList<double>& positions);

Q_SIGNALS:
    void dataUpdated();
    void volumeAChanged(int volume);
    void volumeBChanged(int volume);
    void volumeChooseChanged(int choose);
    void loopRangeChanged(qlonglong startMs, qlonglong endMs);
    void fadeSettingsChanged(qlonglong fadeInMs, qlonglong fadeOutMs);
    void fadeEnabledChanged(bool enabled);
    void envelopeChanged(QList<qint64> times, QList<double> gains);
    void envelopeEnabledChanged(bool enabled);
    void panEnvelopeEnabledChanged(bool enabled);
    void panEnvelopeChanged(QList<qint64> times, QList<double> positions);
    void durationChanged(qlonglong duration);
    void colorChanged(QString color);
    void waveformReady(QList<float> waveform);

private:
    void markDirty() { m_isDirty = true; }
    void storeLoopRange(qint64 startMs, qint64 endMs);

    int m_id = -1;
    QString m_name;
    QString m_alias;
    QString m_filePath;
    qint64 m_durationMs = 0;
    QString m_remark;
    QString m_color;
    double m_lufs = kLufsNotMeasured;
    bool m_isBadFile = false;
    QList<float> m_waveform;
    bool m_waveformDirty = false;
    int m_volumeA = 50;
    int m_volumeB = 50;
    int m_volumeChoose = 0;
    int m_heldVolumeChoose = -1;  // -1 = none held
    int m_preWaitMs = 0;
    int m_loopCount = 1;
    bool m_fadeEnabled = false;
    qint64 m_fadeInMs = 1000;
    qint64 m_fadeOutMs = 1000;
    bool m_envelopeEnabled = false;
    QList<qint64> m_envelopeTimes;
    QList<double> m_envelopeGains;
    bool m_panEnvelopeEnabled = false;
    QList<qint64> m_panEnvelopeTimes;
    QList<double> m_panEnvelopePositions;
    qint64 m_loopStartMs = 0;
    qint64 m_loopEndMs = 0;
    qint64 m_startMarkingMs = 0;
    bool m_isDirty = false;
    bool m_isLoading = false;
    bool m_isImporting = false;
};

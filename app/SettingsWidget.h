#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class BatchCue;
class Cue;
class QCheckBox;
class QDoubleSpinBox;
class QLabel;
class QMenu;
class QPushButton;
class QScrollBar;
class QSpinBox;

// Controller of the cue settings bar: the form's loop count, pre-wait, fade,
// volume, envelope and colour controls, bound either to one cue (edits go
// straight into its setters and its changes come back) or to a batch edit of
// a multi-selection (edits set the batch's fields and flags and announce
// them). It owns none of the widgets. Filling the controls from a source sets
// `updating`, which every control handler checks first, so showing a value
// never writes it back. Apart from a colour choice nothing here saves a cue:
// the setters only mark it dirty.
class SettingsWidget : public QObject {
    Q_OBJECT

public:
    explicit SettingsWidget(QObject* parent = nullptr);
    ~SettingsWidget() override;

    // Hands over the form's controls once; any of them may be null.
    void setWidgets(QPushButton* infiniteLoopBtn, QLabel* loopLabel, QLabel* loopCountSuffix,
                    QSpinBox* loopCountSpinBox, QCheckBox* fadeCheckBox, QSpinBox* preDurationSpinBox,
                    QScrollBar* volumeHorizontalScrollBar, QCheckBox* volumeEnvelopeCheckBox,
                    QCheckBox* panCheckBox, QPushButton* colorButton, QDoubleSpinBox* fadeInSpinBox,
                    QDoubleSpinBox* fadeOutSpinBox, QLabel* fadeInLabel, QLabel* fadeOutLabel,
                    QLabel* loopDurationLabel, QLabel* label_3, QLabel* label_5, QLabel* label_4,
                    QLabel* panEnvelopeLabel, QLabel* volumeEnvelopeLabel,
                    QScrollBar* volumeHorizontalScrollBar_2);

    // Binds a cue; null unbinds everything and clears the controls.
    void setCue(Cue* cue);
    // Binds a batch edit (not owned); null clears the controls.
    void setBatchSource(BatchCue* batch);

    Cue* boundCue() const;
    BatchCue* boundBatch() const { return batchSource; }
    QMenu* colorMenuWidget() const;

    void setReadOnly(bool readOnly);
    bool isReadOnly() const { return readOnlyLook; }
    // Pre-wait and volume B with their captions. A read-only bar keeps them
    // dimmed: a control looks usable only when it takes input.
    void applyControlStyles(bool dimmed);
    // The two envelope switches with their captions; kept dimmed likewise.
    void applyEnvelopeStyles(bool dimmed);

    // Fade times are limited to what fits into the part of the file that
    // plays; -1 when that part is not known yet (no duration).
    static qint64 fadeRoomMs(const Cue& cue);

Q_SIGNALS:
    void statusMessage(QString message, int timeout = 2000);
    // The loop count of the bound cue was changed from the bar.
    void loopSettingsChanged(bool infinite, int count);
    // Volume A of the bound cue was changed from the bar.
    void volumeChanged(int value);
    void cueColorChanged();
    // One of the two envelope captions was clicked.
    void switchEnvelopeEditMode(bool panEditMode);

private Q_SLOTS:
    void onCueDataUpdated();
    void onColorButtonClicked();
    void onColorSelected(QString color);

public:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setupConnections();
    void buildColorMenu();
    void disconnectCue();
    void updateFromCue();
    void updateFromBatch();
    void clearControls();
    void updateColorButton();
    void showLoopCount(int count);

    void onInfiniteLoopClicked();
    void onLoopCountChanged(int count);
    void onPreWaitChanged(int seconds);
    void onFadeToggled(bool on);
    void onFadeInChanged(double seconds);
    void onFadeOutChanged(double seconds);
    void onVolumeAChanged(int value);
    void onVolumeBChanged(int value);
    void onEnvelopeToggled(bool on);
    void onPanEnvelopeToggled(bool on);
    void announceBatchChange();
    bool fadeBoxesUsable() const;
    // The fade boxes take input while the fade is on and the bar is not
    // read-only, and look it exactly then.
    void showFadeBoxesUsable(bool fadeOn);

    QPointer<Cue> cue;
    BatchCue* batchSource = nullptr;
    bool updating = false;
    bool readOnlyLook = false;
    int lastLoopCount = 1;

    QPointer<QPushButton> infiniteLoopBtn;
    QPointer<QLabel> loopLabel;
    QPointer<QLabel> loopCountSuffix;
    QPointer<QSpinBox> loopCountSpinBox;
    QPointer<QCheckBox> fadeCheckBox;
    QPointer<QSpinBox> preDurationSpinBox;
    QPointer<QScrollBar> volumeHorizontalScrollBar;
    QPointer<QScrollBar> volumeHorizontalScrollBar_2;
    QPointer<QCheckBox> volumeEnvelopeCheckBox;
    QPointer<QCheckBox> panCheckBox;
    QPointer<QLabel> panEnvelopeLabel;
    QPointer<QLabel> volumeEnvelopeLabel;
    QPointer<QPushButton> colorButton;
    QPointer<QMenu> colorMenu;
    QPointer<QDoubleSpinBox> fadeInSpinBox;
    QPointer<QDoubleSpinBox> fadeOutSpinBox;
    QPointer<QLabel> fadeInLabel;
    QPointer<QLabel> fadeOutLabel;
    QPointer<QLabel> loopDurationLabel;
    QPointer<QLabel> label_3;
    QPointer<QLabel> label_5;
    QPointer<QLabel> label_4;
};

#include "app/SettingsWidget.h"

#include "app/AppConstants.h"
#include "app/ControlStyleSheets.h"
#include "app/StyleSheetSetter.h"
#include "model/BatchCue.h"
#include "model/Cue.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QWidgetAction>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

const QString kEndlessText = QStringLiteral("♾️");

const QString kColorMenuStyle = QStringLiteral(
    "QMenu { background-color: #2b2b2b; border: 1px solid #3a3a3a; padding: 4px; }"
    "QMenu::item { padding: 4px 8px; border-radius: 3px; }"
    "QMenu::item:selected { background-color: #0078d7; }");

const QString kSwatchStyle = QStringLiteral(
    "QPushButton {  background-color: %1;  border: 1px solid #555555;  border-radius: 14px;}"
    "QPushButton:hover {  border: 2px solid #0078d7;}");
const QString kNoColorSwatchStyle = QStringLiteral(
    "QPushButton {  background-color: transparent;  border: 1px solid #555555;  border-radius: 14px;}"
    "QPushButton:hover {  border: 2px solid #0078d7;}"
    " QPushButton { color: #aaaaaa; font-size: 16px; font-weight: bold; }");

const QString kColorButtonStyle = QStringLiteral(
    "QPushButton {  background-color: %1;  border: 1px solid #555555;  border-radius: 7px;"
    "  min-width: 14px;  min-height: 14px;  padding: 0px;}"
    "QPushButton:hover {  border: 2px solid #0078d7;}");

const QString kEndlessButtonDimStyle = QStringLiteral(
    "QPushButton { color: #666; background-color: #2a2a2a; border: 1px solid #555; border-radius: 7px;"
    " min-width: 14px; min-height: 14px; padding: 0px; }");

const QString kSpinBoxDimStyle = QStringLiteral(
    "QSpinBox { color: #888; background-color: #2a2a2a; border: 1px solid #333333; border-radius: 2px;"
    " padding: 0px; font-family: monospace; }"
    "QSpinBox::up-button, QSpinBox::down-button { width: 0px; height: 0px; }");
const QString kSpinBoxNormalStyle = QStringLiteral(
    "QSpinBox { background-color: #2a2a2a; color: #cccccc; border: 1px solid #555555; border-radius: 2px;"
    " padding: 0px; font-family: monospace; }"
    "QSpinBox::up-button, QSpinBox::down-button { width: 0px; height: 0px; }");
const QString kDoubleSpinBoxDimStyle = QStringLiteral(
    "QDoubleSpinBox { color: #888; background-color: #2a2a2a; border: 1px solid #333333; border-radius: 2px;"
    " padding: 0px; font-family: monospace; }"
    "QDoubleSpinBox::up-button, QDoubleSpinBox::down-button { width: 0px; height: 0px; }");

const QString kCheckBoxDimStyle = QStringLiteral("QCheckBox { color: #666; }");
const QString kLabelDimStyle = QStringLiteral("QLabel { color: #666; }");
const QString kLabelNormalStyle = QStringLiteral("QLabel { color: #aaa; }");
const QString kLabelBrightStyle = QStringLiteral("QLabel { color: #cccccc; }");

// Seconds of a box (at most two decimals) as the milliseconds they stand for.
qint64 secondsToMs(double seconds)
{
    return std::llround(seconds * 1000.0);
}

// Writes a value into a box only when it shows another one: rewriting the
// text of a box the operator is typing into would cut the entry short.
void showValue(QSpinBox* box, int value)
{
    if (box && box->value() != value)
        box->setValue(value);
}

void showValue(QDoubleSpinBox* box, double value)
{
    if (box && std::llround(box->value() * 1000.0) != std::llround(value * 1000.0))
        box->setValue(value);
}

// The look a box was handed over with; the plain one of the bar for a box
// that came without one.
QString normalStyleSheet(const QWidget* box)
{
    const QString sheet = box->property("normalStyleSheet").toString();
    return sheet.isEmpty() ? kSpinBoxNormalStyle : sheet;
}

template <typename Widget>
void setEnabled(const QPointer<Widget>& widget, bool enabled)
{
    if (widget)
        widget->setEnabled(enabled);
}

}  // namespace

SettingsWidget::SettingsWidget(QObject* parent)
    : QObject(parent)
{
}

SettingsWidget::~SettingsWidget() = default;

Cue* SettingsWidget::boundCue() const
{
    return cue;
}

QMenu* SettingsWidget::colorMenuWidget() const
{
    return colorMenu;
}

qint64 SettingsWidget::fadeRoomMs(const Cue& cue)
{
    // A loop end of 0 means "to the end of the file", and so does one at or
    // past the duration.
    const qint64 duration = cue.durationMs();
    const qint64 end = (cue.loopEndMs() >= 1 && (duration <= 0 || cue.loopEndMs() < duration))
        ? cue.loopEndMs()
        : duration;
    if (end <= 0)
        return -1;
    return std::max<qint64>(0, end - cue.loopStartMs());
}

void SettingsWidget::setWidgets(QPushButton* infiniteLoop, QLabel* loop, QLabel* loopSuffix,
                                QSpinBox* loopCount, QCheckBox* fade, QSpinBox* preDuration,
                                QScrollBar* volumeA, QCheckBox* volumeEnvelope, QCheckBox* pan,
                                QPushButton* color, QDoubleSpinBox* fadeIn, QDoubleSpinBox* fadeOut,
                                QLabel* fadeInCaption, QLabel* fadeOutCaption, QLabel* loopDuration,
                                QLabel* preWaitCaption, QLabel* preWaitUnit, QLabel* volumeCaption,
                                QLabel* panEnvelopeCaption, QLabel* volumeEnvelopeCaption,
                                QScrollBar* volumeB)
{
    infiniteLoopBtn = infiniteLoop;
    loopLabel = loop;
    loopCountSuffix = loopSuffix;
    loopCountSpinBox = loopCount;
    fadeCheckBox = fade;
    preDurationSpinBox = preDuration;
    volumeHorizontalScrollBar = volumeA;
    volumeEnvelopeCheckBox = volumeEnvelope;
    panCheckBox = pan;
    colorButton = color;
    fadeInSpinBox = fadeIn;
    fadeOutSpinBox = fadeOut;
    fadeInLabel = fadeInCaption;
    fadeOutLabel = fadeOutCaption;
    loopDurationLabel = loopDuration;
    label_3 = preWaitCaption;
    label_5 = preWaitUnit;
    label_4 = volumeCaption;
    panEnvelopeLabel = panEnvelopeCaption;
    volumeEnvelopeLabel = volumeEnvelopeCaption;
    volumeHorizontalScrollBar_2 = volumeB;

    // The look the spin boxes were handed over with is their normal look,
    // given back when the bar leaves read-only mode.
    for (QWidget* box : {static_cast<QWidget*>(loopCountSpinBox.data()),
                         static_cast<QWidget*>(preDurationSpinBox.data()),
                         static_cast<QWidget*>(fadeInSpinBox.data()),
                         static_cast<QWidget*>(fadeOutSpinBox.data())}) {
        if (box)
            box->setProperty("normalStyleSheet", box->styleSheet());
    }

    if (panEnvelopeLabel)
        panEnvelopeLabel->installEventFilter(this);
    if (volumeEnvelopeLabel)
        volumeEnvelopeLabel->installEventFilter(this);
    if (colorButton)
        buildColorMenu();
    setupConnections();
}

void SettingsWidget::buildColorMenu()
{
    colorMenu = new QMenu(colorButton);
    colorMenu->setStyleSheet(kColorMenuStyle);

    auto* grid = new QWidget(colorMenu);
    auto* layout = new QGridLayout(grid);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(4);
    for (int i = 0; i < AppConstants::kCueColorCodes.size(); ++i) {
        const QString code = AppConstants::kCueColorCodes.at(i);
        auto* swatch = new QPushButton(grid);
        swatch->setFixedSize(28, 28);
        swatch->setToolTip(AppConstants::kCueColorNames.value(i));
        swatch->setProperty("colorCode", code);
        if (code.isEmpty()) {
            swatch->setText(QStringLiteral("×"));
            swatch->setStyleSheet(kNoColorSwatchStyle);
        } else {
            swatch->setStyleSheet(kSwatchStyle.arg(code));
        }
        layout->addWidget(swatch, i / 5, i % 5);
        connect(swatch, &QPushButton::clicked, this, [this, code] {
            if (!updating)
                onColorSelected(code);
            if (colorMenu)
                colorMenu->close();
        });
    }

    auto* action = new QWidgetAction(colorMenu);
    action->setDefaultWidget(grid);
    colorMenu->addAction(action);
}

void SettingsWidget::setupConnections()
{
    if (infiniteLoopBtn)
        connect(infiniteLoopBtn, &QPushButton::clicked, this, &SettingsWidget::onInfiniteLoopClicked);
    if (loopCountSpinBox)
        connect(loopCountSpinBox, &QSpinBox::valueChanged, this, &SettingsWidget::onLoopCountChanged);
    if (preDurationSpinBox)
        connect(preDurationSpinBox, &QSpinBox::valueChanged, this, &SettingsWidget::onPreWaitChanged);
    if (fadeCheckBox)
        connect(fadeCheckBox, &QCheckBox::toggled, this, &SettingsWidget::onFadeToggled);
    if (fadeInSpinBox)
        connect(fadeInSpinBox, &QDoubleSpinBox::valueChanged, this, &SettingsWidget::onFadeInChanged);
    if (fadeOutSpinBox)
        connect(fadeOutSpinBox, &QDoubleSpinBox::valueChanged, this, &SettingsWidget::onFadeOutChanged);
    if (volumeHorizontalScrollBar)
        connect(volumeHorizontalScrollBar, &QScrollBar::valueChanged, this, &SettingsWidget::onVolumeAChanged);
    if (volumeHorizontalScrollBar_2)
        connect(volumeHorizontalScrollBar_2, &QScrollBar::valueChanged, this, &SettingsWidget::onVolumeBChanged);
    if (volumeEnvelopeCheckBox)
        connect(volumeEnvelopeCheckBox, &QCheckBox::toggled, this, &SettingsWidget::onEnvelopeToggled);
    if (panCheckBox)
        connect(panCheckBox, &QCheckBox::toggled, this, &SettingsWidget::onPanEnvelopeToggled);
    if (colorButton)
        connect(colorButton, &QPushButton::clicked, this, &SettingsWidget::onColorButtonClicked);
}

// ---------------------------------------------------------------------------
// Sources

void SettingsWidget::disconnectCue()
{
    if (cue)
        cue->disconnect(this);
}

void SettingsWidget::setCue(Cue* newCue)
{
    // Also when the same cue is bound again: its four connections are made
    // afresh below and must not pile up.
    disconnectCue();

    if (!newCue) {
        cue = nullptr;
        batchSource = nullptr;
        updateFromCue();
        return;
    }

    // The count the endless button offers back is this cue's own, never one
    // left over from the cue shown before.
    if (newCue != cue)
        lastLoopCount = 1;
    cue = newCue;
    batchSource = nullptr;
    connect(newCue, &Cue::dataUpdated, this, &SettingsWidget::onCueDataUpdated);
    connect(newCue, &Cue::fadeEnabledChanged, this, [this](bool on) {
        if (!fadeCheckBox)
            return;
        const bool wasUpdating = std::exchange(updating, true);
        fadeCheckBox->setChecked(on);
        updating = wasUpdating;
    });
    connect(newCue, &Cue::envelopeEnabledChanged, this, [this](bool on) {
        if (!volumeEnvelopeCheckBox)
            return;
        const bool wasUpdating = std::exchange(updating, true);
        volumeEnvelopeCheckBox->setChecked(on);
        updating = wasUpdating;
    });
    connect(newCue, &Cue::panEnvelopeEnabledChanged, this, [this](bool on) {
        if (!panCheckBox)
            return;
        const bool wasUpdating = std::exchange(updating, true);
        panCheckBox->setChecked(on);
        updating = wasUpdating;
    });
    updateFromCue();
}

void SettingsWidget::setBatchSource(BatchCue* batch)
{
    disconnectCue();
    if (batch != batchSource || cue)
        lastLoopCount = 1;
    batchSource = batch;
    cue = nullptr;
    updateFromBatch();
}

void SettingsWidget::onCueDataUpdated()
{
    updateFromCue();
}

void SettingsWidget::showLoopCount(int count)
{
    showValue(loopCountSpinBox, count);
    if (count > 0)
        lastLoopCount = count;
    if (infiniteLoopBtn) {
        infiniteLoopBtn->setChecked(count == 0);
        infiniteLoopBtn->setText(count == 0 ? QString::number(lastLoopCount) : kEndlessText);
    }
}

void SettingsWidget::updateFromCue()
{
    if (!cue) {
        clearControls();
        return;
    }
    const bool wasUpdating = std::exchange(updating, true);

    showLoopCount(cue->loopCount());

    if (fadeCheckBox)
        fadeCheckBox->setChecked(cue->fadeEnabled());
    showValue(fadeInSpinBox, cue->fadeInMs() / 1000.0);
    showValue(fadeOutSpinBox, cue->fadeOutMs() / 1000.0);
    showFadeBoxesUsable(cue->fadeEnabled());
    showValue(preDurationSpinBox, cue->preWaitMs() / 1000);

    if (cue->id() != -1) {
        if (volumeHorizontalScrollBar)
            volumeHorizontalScrollBar->setValue(cue->volumeA());
        if (volumeHorizontalScrollBar_2)
            volumeHorizontalScrollBar_2->setValue(cue->volumeB());
    }

    if (volumeEnvelopeCheckBox)
        volumeEnvelopeCheckBox->setChecked(cue->envelopeEnabled());
    if (panCheckBox)
        panCheckBox->setChecked(cue->panEnvelopeEnabled());

    updateColorButton();
    updating = wasUpdating;
}

void SettingsWidget::updateFromBatch()
{
    if (!batchSource) {
        clearControls();
        return;
    }
    const bool wasUpdating = std::exchange(updating, true);

    showLoopCount(batchSource->infiniteLoop ? 0 : batchSource->loopCount);
    showValue(preDurationSpinBox, batchSource->preWaitMs / 1000);
    if (fadeCheckBox)
        fadeCheckBox->setChecked(batchSource->fadeEnabled);
    showFadeBoxesUsable(batchSource->fadeEnabled);
    showValue(fadeInSpinBox, batchSource->fadeInMs / 1000.0);
    showValue(fadeOutSpinBox, batchSource->fadeOutMs / 1000.0);
    if (volumeHorizontalScrollBar)
        volumeHorizontalScrollBar->setValue(batchSource->volumeA);
    if (volumeHorizontalScrollBar_2)
        volumeHorizontalScrollBar_2->setValue(batchSource->volumeB);
    updateColorButton();
    updating = wasUpdating;
}

void SettingsWidget::clearControls()
{
    const bool wasUpdating = std::exchange(updating, true);
    // Nothing of the cue shown before stays: the endless button shows the
    // look of a finite count, not a count of that cue.
    if (infiniteLoopBtn) {
        infiniteLoopBtn->setChecked(false);
        infiniteLoopBtn->setText(kEndlessText);
    }
    if (loopCountSpinBox)
        loopCountSpinBox->setValue(1);
    lastLoopCount = 1;
    if (fadeCheckBox)
        fadeCheckBox->setChecked(false);
    for (const QPointer<QDoubleSpinBox>& box : {fadeInSpinBox, fadeOutSpinBox}) {
        if (box)
            box->setValue(1.0);
    }
    showFadeBoxesUsable(false);
    if (preDurationSpinBox)
        preDurationSpinBox->setValue(0);
    if (volumeHorizontalScrollBar)
        volumeHorizontalScrollBar->setValue(50);
    if (volumeHorizontalScrollBar_2)
        volumeHorizontalScrollBar_2->setValue(50);
    if (volumeEnvelopeCheckBox)
        volumeEnvelopeCheckBox->setChecked(false);
    if (panCheckBox)
        panCheckBox->setChecked(false);
    StyleSheetSetter::apply(colorButton, kColorButtonStyle.arg(QStringLiteral("transparent")));
    updating = wasUpdating;
}

void SettingsWidget::updateColorButton()
{
    QString color;
    if (cue)
        color = cue->color();
    else if (batchSource)
        color = batchSource->color.isValid() ? batchSource->color.name() : QString();
    else
        return;
    StyleSheetSetter::apply(colorButton,
                            kColorButtonStyle.arg(color.isEmpty() ? QStringLiteral("transparent") : color));
}

// ---------------------------------------------------------------------------
// Control handlers

void SettingsWidget::announceBatchChange()
{
    Q_EMIT batchSource->dataChanged();
}

void SettingsWidget::onLoopCountChanged(int count)
{
    if (updating)
        return;
    if (infiniteLoopBtn) {
        const bool wasUpdating = std::exchange(updating, true);
        infiniteLoopBtn->setChecked(count == 0);
        infiniteLoopBtn->setText(count != 0 ? kEndlessText : QString::number(lastLoopCount));
        updating = wasUpdating;
    }
    if (count > 0)
        lastLoopCount = count;

    if (cue) {
        cue->setLoopCount(count);
        Q_EMIT loopSettingsChanged(count == 0, count);
    } else if (batchSource) {
        batchSource->infiniteLoop = count == 0;
        batchSource->loopCount = count;
        batchSource->loopCountModified = true;
        announceBatchChange();
    }
}

void SettingsWidget::onInfiniteLoopClicked()
{
    if (updating || !infiniteLoopBtn)
        return;
    // The button has already toggled its checked state.
    const bool endless = infiniteLoopBtn->isChecked();
    if (!endless) {
        const int count = std::max(lastLoopCount, 1);
        const bool wasUpdating = std::exchange(updating, true);
        if (loopCountSpinBox)
            loopCountSpinBox->setValue(count);
        updating = wasUpdating;
        infiniteLoopBtn->setText(kEndlessText);
        if (cue) {
            cue->setLoopCount(count);
            Q_EMIT loopSettingsChanged(false, count);
        } else if (batchSource) {
            batchSource->infiniteLoop = false;
            batchSource->loopCount = count;
            batchSource->loopCountModified = true;
            announceBatchChange();
        }
        return;
    }

    if (loopCountSpinBox && loopCountSpinBox->value() > 0)
        lastLoopCount = loopCountSpinBox->value();
    const bool wasUpdating = std::exchange(updating, true);
    if (loopCountSpinBox)
        loopCountSpinBox->setValue(0);
    updating = wasUpdating;
    infiniteLoopBtn->setText(QString::number(lastLoopCount));
    if (cue) {
        cue->setLoopCount(0);
        Q_EMIT loopSettingsChanged(true, 0);
    } else if (batchSource) {
        batchSource->infiniteLoop = true;
        batchSource->loopCountModified = true;
        announceBatchChange();
    }
}

void SettingsWidget::onPreWaitChanged(int seconds)
{
    if (updating)
        return;
    if (cue) {
        cue->setPreWait(seconds * 1000);
    } else if (batchSource) {
        batchSource->preWaitMs = seconds * 1000;
        batchSource->preWaitModified = true;
        announceBatchChange();
    }
}

void SettingsWidget::onFadeToggled(bool on)
{
    if (updating)
        return;
    if (cue) {
        cue->setFadeEnabled(on);
        showFadeBoxesUsable(on);
        if (!cue || !on)
            return;
        const qint64 fadeIn = cue->fadeInMs() > 0 ? cue->fadeInMs() : 1000;
        const qint64 fadeOut = cue->fadeOutMs() > 0 ? cue->fadeOutMs() : 1000;
        if (cue->fadeInMs() <= 0 || cue->fadeOutMs() <= 0)
            cue->setFadeDurations(fadeIn, fadeOut);
        Q_EMIT statusMessage(QStringLiteral("淡入淡出已启用"), 1500);
    } else if (batchSource) {
        batchSource->fadeEnabled = on;
        batchSource->fadeEnabledModified = true;
        announceBatchChange();
        showFadeBoxesUsable(on);
    }
}

void SettingsWidget::onFadeInChanged(double seconds)
{
    if (updating)
        return;
    qint64 ms = secondsToMs(seconds);
    if (cue) {
        const qint64 room = fadeRoomMs(*cue);
        const qint64 limit = room < 0 ? Cue::kMaxFadeMs : std::max<qint64>(0, room - cue->fadeOutMs());
        if (ms > limit) {
            ms = limit;
            const bool wasUpdating = std::exchange(updating, true);
            if (fadeInSpinBox)
                fadeInSpinBox->setValue(limit / 1000.0);
            updating = wasUpdating;
        }
        cue->setFadeDurations(ms, cue->fadeOutMs());
    } else if (batchSource) {
        // A batch's fades are checked against each cue when they are applied.
        batchSource->fadeInMs = ms;
        batchSource->fadeInModified = true;
        announceBatchChange();
    }
}

void SettingsWidget::onFadeOutChanged(double seconds)
{
    if (updating)
        return;
    qint64 ms = secondsToMs(seconds);
    if (cue) {
        const qint64 room = fadeRoomMs(*cue);
        const qint64 limit = room < 0 ? Cue::kMaxFadeMs : std::max<qint64>(0, room - cue->fadeInMs());
        if (ms > limit) {
            ms = limit;
            const bool wasUpdating = std::exchange(updating, true);
            if (fadeOutSpinBox)
                fadeOutSpinBox->setValue(limit / 1000.0);
            updating = wasUpdating;
        }
        cue->setFadeDurations(cue->fadeInMs(), ms);
    } else if (batchSource) {
        batchSource->fadeOutMs = ms;
        batchSource->fadeOutModified = true;
        announceBatchChange();
    }
}

void SettingsWidget::onVolumeAChanged(int value)
{
    if (updating)
        return;
    if (cue) {
        cue->setVolumeA(value);
        Q_EMIT volumeChanged(value);
    } else if (batchSource) {
        batchSource->volumeA = value;
        batchSource->volumeAModified = true;
        announceBatchChange();
    }
}

void SettingsWidget::onVolumeBChanged(int value)
{
    if (updating)
        return;
    if (cue) {
        cue->setVolumeB(value);
    } else if (batchSource) {
        batchSource->volumeB = value;
        batchSource->volumeBModified = true;
        announceBatchChange();
    }
}

void SettingsWidget::onEnvelopeToggled(bool on)
{
    if (updating || !cue)
        return;
    cue->setEnvelopeEnabled(on);
}

void SettingsWidget::onPanEnvelopeToggled(bool on)
{
    if (updating || !cue)
        return;
    cue->setPanEnvelopeEnabled(on);
}

// ---------------------------------------------------------------------------
// Colour

void SettingsWidget::onColorButtonClicked()
{
    if (!colorMenu || !colorButton)
        return;
    colorMenu->exec(colorButton->mapToGlobal(colorButton->rect().bottomLeft()));
}

void SettingsWidget::onColorSelected(QString color)
{
    if (updating)
        return;
    if (cue) {
        cue->setColor(color);
        cue->saveToDatabase(false);
        updateColorButton();
        Q_EMIT cueColorChanged();
    } else if (batchSource) {
        batchSource->color = color.isEmpty() ? QColor() : QColor::fromString(color);
        batchSource->colorModified = true;
        announceBatchChange();
        updateColorButton();
    }
}

// ---------------------------------------------------------------------------
// Looks

bool SettingsWidget::fadeBoxesUsable() const
{
    if (cue)
        return cue->fadeEnabled();
    if (batchSource)
        return batchSource->fadeEnabled;
    return false;
}

void SettingsWidget::showFadeBoxesUsable(bool fadeOn)
{
    const bool usable = fadeOn && !readOnlyLook;
    for (const QPointer<QDoubleSpinBox>& box : {fadeInSpinBox, fadeOutSpinBox}) {
        if (!box)
            continue;
        box->setEnabled(usable);
        StyleSheetSetter::apply(box, usable ? normalStyleSheet(box) : kDoubleSpinBoxDimStyle);
    }
}

void SettingsWidget::setReadOnly(bool readOnly)
{
    readOnlyLook = readOnly;
    const bool enabled = !readOnly;

    setEnabled(infiniteLoopBtn, enabled);
    StyleSheetSetter::apply(infiniteLoopBtn, readOnly ? kEndlessButtonDimStyle : QString());

    StyleSheetSetter::apply(loopLabel, readOnly ? QStringLiteral("color: #666;") : QStringLiteral("color: #aaa;"));
    StyleSheetSetter::apply(loopCountSuffix, readOnly ? QStringLiteral("color: #666;") : QStringLiteral("color: #aaa;"));

    for (const QPointer<QSpinBox>& box : {loopCountSpinBox, preDurationSpinBox}) {
        if (!box)
            continue;
        box->setEnabled(enabled);
        StyleSheetSetter::apply(box, readOnly ? kSpinBoxDimStyle : normalStyleSheet(box));
    }

    for (const QPointer<QCheckBox>& box : {fadeCheckBox, volumeEnvelopeCheckBox, panCheckBox}) {
        if (!box)
            continue;
        box->setEnabled(enabled);
        StyleSheetSetter::apply(box, readOnly ? kCheckBoxDimStyle : QString());
    }

    for (const QPointer<QScrollBar>& bar : {volumeHorizontalScrollBar, volumeHorizontalScrollBar_2}) {
        if (!bar)
            continue;
        bar->setEnabled(enabled);
        StyleSheetSetter::apply(bar, ControlStyleSheets::cueVolumeBar(readOnly));
    }

    setEnabled(colorButton, enabled);
    if (!readOnly && (cue || batchSource))
        updateColorButton();

    showFadeBoxesUsable(fadeBoxesUsable());

    for (const QPointer<QLabel>& label : {fadeInLabel, fadeOutLabel, loopDurationLabel, label_3, label_5,
                                          label_4, panEnvelopeLabel, volumeEnvelopeLabel})
        StyleSheetSetter::apply(label, readOnly ? kLabelDimStyle : kLabelNormalStyle);
}

void SettingsWidget::applyControlStyles(bool dimmed)
{
    dimmed = dimmed || readOnlyLook;
    if (preDurationSpinBox) {
        preDurationSpinBox->setEnabled(!dimmed);
        StyleSheetSetter::apply(preDurationSpinBox,
                                dimmed ? kSpinBoxDimStyle : normalStyleSheet(preDurationSpinBox));
    }
    StyleSheetSetter::apply(label_3, dimmed ? kLabelDimStyle : kLabelNormalStyle);
    StyleSheetSetter::apply(label_5, dimmed ? kLabelDimStyle : kLabelNormalStyle);
    if (volumeHorizontalScrollBar_2) {
        volumeHorizontalScrollBar_2->setEnabled(!dimmed);
        StyleSheetSetter::apply(volumeHorizontalScrollBar_2, ControlStyleSheets::cueVolumeBar(dimmed));
    }
}

void SettingsWidget::applyEnvelopeStyles(bool dimmed)
{
    dimmed = dimmed || readOnlyLook;
    for (const QPointer<QCheckBox>& box : {volumeEnvelopeCheckBox, panCheckBox}) {
        if (!box)
            continue;
        box->setEnabled(!dimmed);
        StyleSheetSetter::apply(box, dimmed ? kCheckBoxDimStyle : QString());
    }
    for (const QPointer<QLabel>& label : {panEnvelopeLabel, volumeEnvelopeLabel, loopDurationLabel})
        StyleSheetSetter::apply(label, dimmed ? kLabelDimStyle : kLabelBrightStyle);
}

bool SettingsWidget::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonPress && watched) {
        if (watched == panEnvelopeLabel) {
            Q_EMIT switchEnvelopeEditMode(true);
            return true;
        }
        if (watched == volumeEnvelopeLabel) {
            Q_EMIT switchEnvelopeEditMode(false);
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

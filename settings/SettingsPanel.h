#pragma once

#include <QList>
#include <QMessageBox>
#include <QString>
#include <QWidget>

#include <functional>

class HidDeviceManager;
class QCheckBox;
class QDoubleSpinBox;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTimer;
class QUrl;
class QVariant;
class Ui_SettingsPanel;

// The settings window: every option of the program in tabs (audio and
// crossfade, appearance and show mode, shortcuts, storage, list export, the
// new-cue template, advanced, about). It builds itself as a window-modal
// dialog that deletes itself when closed, so its owner only creates, shows
// and connects it. Controls are loaded from the settings store when it opens
// and written back only on OK, which then emits settingsChanged(); the
// crossfade curve and the device global mode take effect as soon as they are
// changed.
class SettingsPanel : public QWidget {
    Q_OBJECT

public:
    // The panel's ties to the desktop and to the operator outside its own
    // widgets. Tests replace them so that no folder opens and no message box
    // waits; an empty function stands for the real thing.
    struct Seams {
        // Shows a message box and returns the button the operator chose.
        std::function<QMessageBox::StandardButton(QWidget* parent, QMessageBox::Icon icon,
                                                  const QString& title, const QString& text,
                                                  QMessageBox::StandardButtons buttons)>
            showMessage;
        // Opens a folder in the desktop's file manager.
        std::function<bool(const QUrl& folder)> openFolder;
        // The input manager that captures keys and device buttons
        // (HidDeviceManager::instance() when null).
        HidDeviceManager* input = nullptr;
        // A capture that gets no input ends after this long.
        int captureTimeoutMs = 30000;
    };

    // One row of the shortcut table.
    struct ShortcutEntry {
        QString label;
        QString id;
        QString defaultKey;
    };

    explicit SettingsPanel(QWidget* parent = nullptr);
    SettingsPanel(const Seams& seams, QWidget* parent);
    ~SettingsPanel() override;

    void loadSettings();
    void saveSettings();

    // The application-data folder + "/playlist_data.db": the database file.
    QString databasePath() const;

    bool eventFilter(QObject* watched, QEvent* event) override;

signals:
    void settingsChanged();
    void cacheCleared();

public slots:
    void onAccept();
    void onReject();
    void onRestoreDefaults();
    void onCheckUpdate();
    void onCredits();
    void onResetShortcuts();
    void onClearCache();
    void onOpenDbDir();
    void onOpenLogDir();
    void onResetFont();
    void onPreloadSliderChanged(int value);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // Reads the value of a key with the default given; loading from the
    // store and restoring the defaults share one way of filling the controls.
    using ValueSource = std::function<QVariant(const char* key, const QVariant& defaultValue)>;
    void loadControls(const ValueSource& value);

    void makeAudioTabScrollable();
    void setupShortcutTab();
    void setupAboutTab();
    void setupTemplateTab();
    void updateCacheSizeLabel();
    void onTemplateLoopCountChanged(int value);
    void onTemplateLoopInfiniteClicked();

    void startShortcutCapture(int row, int column);
    void stopShortcutCapture();
    void onShortcutCaptured(const QString& identifier);
    void updateBoundDeviceIdentifiers();
    void resetShortcutEditors();
    QCheckBox* showGlobalCheck(int row) const;

    QMessageBox::StandardButton showMessage(QMessageBox::Icon icon, const QString& title, const QString& text,
                                            QMessageBox::StandardButtons buttons);
    void openFolder(const QString& path);

    Ui_SettingsPanel* ui = nullptr;
    QList<ShortcutEntry> shortcutEntries;

    QWidget* templateTab = nullptr;
    QCheckBox* fadeEnabledCheck = nullptr;
    QDoubleSpinBox* fadeInSpin = nullptr;
    QDoubleSpinBox* fadeOutSpin = nullptr;
    QSpinBox* loopCountSpin = nullptr;
    QPushButton* loopInfiniteButton = nullptr;
    QDoubleSpinBox* preWaitSpin = nullptr;
    QCheckBox* panEnvelopeCheck = nullptr;
    QCheckBox* volumeEnvelopeCheck = nullptr;
    QSpinBox* volumeASpin = nullptr;
    QSpinBox* volumeBSpin = nullptr;
    QCheckBox* forceVolumeACheck = nullptr;
    int lastFiniteLoopCount = 1;

    int captureRow = -1;
    int captureColumn = -1;
    QList<QLineEdit*> keyEdits;
    QList<QLineEdit*> deviceEdits;
    QString savedPlaceholder;

    Seams m_seams;
    HidDeviceManager* m_input = nullptr;
    QTimer* m_captureTimer = nullptr;

    // Shared by every panel of one run: the tab shown last, and whether a
    // panel has been built yet (the first opens on the shortcut tab).
    static int lastTabIndex;
    static bool firstOpen;
};

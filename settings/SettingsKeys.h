#pragma once

#include <QString>

#include <array>

// Every key of the settings store with its default. Readers open their own
// local QSettings and pass the default named here. Where two readers of one
// key use different defaults while it is unwritten, both are listed, each
// named after its reader.
namespace SettingsKeys {

// Crossfade and audio
inline constexpr char kCrossfadeEnabled[] = "crossfade/enabled";
inline constexpr bool kCrossfadeEnabledDefault = false;
inline constexpr char kCrossfadeDuration[] = "crossfade/duration";  // seconds
inline constexpr int kCrossfadeDurationDefault = 3;
inline constexpr int kCrossfadeDurationMin = 1;
inline constexpr int kCrossfadeDurationMax = 12;
inline constexpr char kCrossfadeCurve[] = "crossfade/curve";  // "SmoothStep", "EqualPower", "Linear"
inline constexpr char kCrossfadeCurveDefault[] = "SmoothStep";
inline constexpr char kPreloadBuffer[] = "audio/preloadBuffer";  // ms
inline constexpr int kPreloadBufferDefault = 500;
inline constexpr char kWaveformCacheMB[] = "audio/waveformCacheMB";
inline constexpr int kWaveformCacheMBDefault = 500;
inline constexpr char kVolumeSwitchDuration[] = "audio/volumeSwitchDuration";  // seconds
inline constexpr int kVolumeSwitchDurationDefault = 2;
inline constexpr char kPauseFadeEnabled[] = "audio/pauseFadeEnabled";
inline constexpr bool kPauseFadeEnabledDefault = true;
inline constexpr char kPauseFadeDuration[] = "audio/pauseFadeDuration";  // ms
inline constexpr int kPauseFadeDurationDefault = 1000;
inline constexpr char kPauseFadeShowModeOnly[] = "audio/pauseFadeShowModeOnly";
inline constexpr bool kPauseFadeShowModeOnlyDefault = false;

// Export
inline constexpr char kExportFormat[] = "export/format";  // "WAV", "MP3"
inline constexpr char kExportFormatDefaultWindow[] = "MP3";
inline constexpr char kExportFormatDefaultSelected[] = "WAV";  // export of selected cues
inline constexpr char kExportFormatDefaultM3u8[] = "WAV";
inline constexpr char kExportSampleRate[] = "export/sampleRate";  // Hz
inline constexpr int kExportSampleRateDefault = 44100;
inline constexpr char kExportRange[] = "export/range";  // "whole", "clip"
inline constexpr char kExportRangeDefaultWindow[] = "clip";
inline constexpr char kExportRangeDefaultSelected[] = "whole";
inline constexpr char kExportUseSeq[] = "export/useSeq";
inline constexpr bool kExportUseSeqDefaultWindow = true;
inline constexpr bool kExportUseSeqDefaultExport = false;  // export of selected cues, exportCueAudio
inline constexpr char kExportUseAlias[] = "export/useAlias";
inline constexpr bool kExportUseAliasDefaultWindow = true;
inline constexpr bool kExportUseAliasDefaultExport = false;
inline constexpr char kExportUseFilename[] = "export/useFilename";
inline constexpr bool kExportUseFilenameDefaultWindow = false;
inline constexpr bool kExportUseFilenameDefaultExport = true;
inline constexpr char kExportProcessing[] = "export/processing";  // "raw", "processed"
inline constexpr char kExportProcessingDefaultWindow[] = "processed";
inline constexpr char kExportProcessingDefaultSelected[] = "raw";
inline constexpr char kExportM3u8IncludeAudio[] = "export/m3u8/includeAudio";
inline constexpr bool kExportM3u8IncludeAudioDefault = true;
inline constexpr char kExportM3u8Type[] = "export/m3u8/type";  // "full", "clip"
inline constexpr char kExportM3u8TypeDefault[] = "clip";
inline constexpr char kExportProjectIncludeAudio[] = "export/project/includeAudio";
inline constexpr bool kExportProjectIncludeAudioDefaultWindow = true;
inline constexpr bool kExportProjectIncludeAudioDefaultExport = false;  // the project export
inline constexpr char kExportLastDir[] = "export/lastDir";  // default: the desktop folder
QString exportLastDirDefault();

// Appearance, cart and main-window layout
inline constexpr char kFontSize[] = "appearance/fontSize";
inline constexpr int kFontSizeDefault = 16;
inline constexpr char kHeaderFontSize[] = "appearance/headerFontSize";
inline constexpr int kHeaderFontSizeDefault = 16;
inline constexpr char kShowSettingsPanelInShowMode[] = "appearance/showSettingsPanelInShowMode";
inline constexpr bool kShowSettingsPanelInShowModeDefault = true;
inline constexpr char kShowWaveformInShowMode[] = "appearance/showWaveformInShowMode";
inline constexpr bool kShowWaveformInShowModeDefault = true;
inline constexpr char kShowModeCloseList[] = "appearance/showModeCloseList";
inline constexpr bool kShowModeCloseListDefault = false;
inline constexpr char kShowLevelMeter[] = "appearance/showLevelMeter";
inline constexpr bool kShowLevelMeterDefault = true;
inline constexpr char kCartColumns[] = "cart/columns";
inline constexpr int kCartColumnsDefault = 4;
inline constexpr char kCartItemHeight[] = "cart/itemHeight";  // px
inline constexpr int kCartItemHeightDefault = 80;
inline constexpr char kCartMode[] = "ui/cartMode";
inline constexpr bool kCartModeDefault = false;
inline constexpr char kLeftPanelVisible[] = "ui/leftPanelVisible";
inline constexpr bool kLeftPanelVisibleDefault = true;

// New-cue template
inline constexpr char kTemplateFadeEnabled[] = "template/fadeEnabled";
inline constexpr bool kTemplateFadeEnabledDefault = false;
inline constexpr char kTemplateFadeInSec[] = "template/fadeInSec";
inline constexpr double kTemplateFadeInSecDefault = 1.0;
inline constexpr char kTemplateFadeOutSec[] = "template/fadeOutSec";
inline constexpr double kTemplateFadeOutSecDefault = 1.0;
inline constexpr char kTemplateLoopCount[] = "template/loopCount";  // 0 = endless
inline constexpr int kTemplateLoopCountDefault = 0;
inline constexpr char kTemplatePreWaitSec[] = "template/preWaitSec";
inline constexpr double kTemplatePreWaitSecDefault = 0.0;
inline constexpr char kTemplatePanEnvelopeEnabled[] = "template/panEnvelopeEnabled";
inline constexpr bool kTemplatePanEnvelopeEnabledDefault = false;
inline constexpr char kTemplateEnvelopeEnabled[] = "template/envelopeEnabled";
inline constexpr bool kTemplateEnvelopeEnabledDefault = false;
inline constexpr char kTemplateVolumeA[] = "template/volumeA";
inline constexpr int kTemplateVolumeADefault = 90;
inline constexpr char kTemplateVolumeB[] = "template/volumeB";
inline constexpr int kTemplateVolumeBDefault = 10;
inline constexpr char kTemplateForceVolumeA[] = "template/forceVolumeA";
inline constexpr bool kTemplateForceVolumeADefault = true;

// Hotkey actions in the order of the shortcut table, with their default keys.
struct HotkeyAction {
    const char* id;
    const char* defaultKey;
};
inline constexpr std::array<HotkeyAction, 11> kHotkeyActions = {{
    {"playPause", "Space"},
    {"prev", "Up"},
    {"next", "Down"},
    {"stop", "Esc"},
    {"volumeSwitch", "Tab"},
    {"setLoopStart", "I"},
    {"setLoopEnd", "O"},
    {"audioStart", "["},
    {"audioEnd", "]"},
    {"copy", "Ctrl+C"},
    {"paste", "Ctrl+V"},
}};
// The first actions of the table that can be system-wide hotkeys in show mode.
inline constexpr int kShowGlobalActionCount = 5;
// The default key of an action id; empty for an unknown id.
QString defaultHotkey(const QString& actionId);

// Shortcuts: "shortcuts/" + action id (default: the action's default key),
// + "_device" (default empty), + "_showGlobal" (first five actions only).
QString shortcutKey(const QString& actionId);
QString shortcutDeviceKey(const QString& actionId);
QString shortcutShowGlobalKey(const QString& actionId);
// One default for the settings window's check boxes and for what show mode
// registers while the key is unwritten: every show-global action but "stop".
bool shortcutShowGlobalDefault(const QString& actionId);
inline constexpr char kDeviceGlobalEnabled[] = "shortcuts/deviceGlobalEnabled";
inline constexpr bool kDeviceGlobalEnabledDefault = true;

// Advanced options and window state
inline constexpr char kEnableLogging[] = "advanced/enableLogging";
inline constexpr bool kEnableLoggingDefault = false;
inline constexpr char kLogLevel[] = "advanced/logLevel";  // 0..3: DEBUG, INFO, WARNING, ERROR
inline constexpr int kLogLevelDefault = 1;
inline constexpr char kGpuAcceleration[] = "advanced/gpuAcceleration";
inline constexpr bool kGpuAccelerationDefault = false;
inline constexpr char kAsyncDecode[] = "advanced/asyncDecode";
inline constexpr bool kAsyncDecodeDefault = true;
inline constexpr char kSettingsPanelLastTabIndex[] = "settingsPanel/lastTabIndex";

// Main-window state and track-list folders
inline constexpr char kMainVolume[] = "MainVolume";
inline constexpr int kMainVolumeDefault = 80;
inline constexpr char kAudioOutputDevice[] = "AudioOutputDevice";
inline constexpr char kAudioOutputDeviceDefault[] = "Default";  // also the name of the system default device
inline constexpr char kLoudnessEnabled[] = "loudness/enabled";
inline constexpr bool kLoudnessEnabledDefault = false;
inline constexpr char kLoudnessTarget[] = "loudness/target";  // LUFS
inline constexpr int kLoudnessTargetDefault = -14;
inline constexpr char kLastPlaylistId[] = "LastPlaylistId";
inline constexpr int kLastPlaylistIdDefault = -1;
inline constexpr char kLastCueId[] = "LastCueId";
inline constexpr int kLastCueIdDefault = -1;
inline constexpr char kLastPosition[] = "LastPosition";  // ms
inline constexpr qint64 kLastPositionDefault = 0;
inline constexpr char kLastSelectedPlaylistId[] = "LastSelectedPlaylistId";
inline constexpr int kLastSelectedPlaylistIdDefault = -1;
inline constexpr char kLastSelectedCueId[] = "LastSelectedCueId";
inline constexpr int kLastSelectedCueIdDefault = -1;
inline constexpr char kLastImportPath[] = "LastImportPath";  // default: the home folder
QString lastImportPathDefault();
inline constexpr char kLastReplaceFilePath[] = "LastReplaceFilePath";  // default empty

// Recording
inline constexpr char kRecordingFormat[] = "recording/format";
inline constexpr char kRecordingFormatDefault[] = "mp3";
inline constexpr char kRecordingSampleRate[] = "recording/sampleRate";
inline constexpr int kRecordingSampleRateDefault = 44100;
inline constexpr char kRecordingTrimSilence[] = "recording/trimSilence";
inline constexpr bool kRecordingTrimSilenceDefault = true;
inline constexpr char kRecordingAutoStop[] = "recording/autoStop";
inline constexpr bool kRecordingAutoStopDefault = false;
inline constexpr char kRecordingLastSource[] = "recording/lastSource";
inline constexpr char kRecordingExportDir[] = "recording/exportDir";
inline constexpr char kRecordingAppOrder[] = "recording/appOrder";        // QStringList
inline constexpr char kRecordingSmtcOverrides[] = "recording/smtcOverrides";  // QStringList

}  // namespace SettingsKeys

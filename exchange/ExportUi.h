#pragma once

#include <QString>

// What the import and export operations show and ask: the folder chooser,
// message boxes, the result box with its open-folder button, the progress
// dialog and status-bar messages. The program uses WidgetExportUi; tests
// script their own, so no test ever blocks on a dialog.
class ExportUi {
public:
    enum class Icon { Information, Warning, Critical };
    // The buttons of a result box: "打开文件夹" (action role) with OK as the
    // default, or "打开导出文件夹" (accept role) with "关闭" as the default.
    enum class ResultButtons { OpenFolderAndOk, OpenExportFolderAndClose };

    virtual ~ExportUi() = default;

    // A directory chooser; empty when cancelled. Closes the busy overlay
    // once it returns.
    virtual QString chooseFolder(const QString& title, const QString& startFolder) = 0;
    virtual void message(Icon icon, const QString& title, const QString& text) = 0;
    // True when the open-folder button was pressed.
    virtual bool resultBox(Icon icon, const QString& title, const QString& text, ResultButtons buttons) = 0;
    virtual void openFolder(const QString& folder) = 0;
    virtual void statusMessage(const QString& text, int timeoutMs) = 0;

    // A window-modal progress dialog with a cancel button "取消", shown
    // after 300 ms. Values run from 0 to maximum.
    virtual void progressStart(const QString& title, const QString& label, int maximum) = 0;
    virtual void progressSet(int value) = 0;
    virtual bool progressCancelled() = 0;
    virtual void progressEnd() = 0;
};

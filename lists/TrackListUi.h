#pragma once

#include "exchange/SelectedCuesExport.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

// What the cue table asks of the operator and of the desktop: file and
// folder choosers, message boxes, the file manager and the export of the
// selected cues. The program uses WidgetTrackListUi; tests script their own,
// so no test ever blocks on a dialog or opens a window of the desktop.
class TrackListUi {
public:
    enum class Icon { Information, Warning };

    virtual ~TrackListUi() = default;

    // Several files, without a parent window; empty when cancelled.
    virtual QStringList chooseFiles(const QString& title, const QString& folder, const QString& filter) = 0;
    // One file; empty when cancelled.
    virtual QString chooseFile(QWidget* parent, const QString& title, const QString& folder,
                               const QString& filter) = 0;
    // One folder (folders only, links not resolved); empty when cancelled.
    virtual QString chooseFolder(QWidget* parent, const QString& title, const QString& folder) = 0;
    // An existing file or a folder, chosen or typed; empty when cancelled.
    virtual QString chooseFileOrFolder(QWidget* parent, const QString& title, const QString& folder,
                                       const QString& filter) = 0;

    virtual void message(QWidget* parent, Icon icon, const QString& title, const QString& text) = 0;
    // A warning box with "取消" and "继续查找"; true for "继续查找".
    virtual bool askToSearchOn(QWidget* parent, const QString& title, const QString& text) = 0;

    // Shows the file selected in the file manager, or opens its folder.
    virtual void showInFileManager(const QString& filePath) = 0;

    // The export of the selected cues, from its notice to its summary.
    virtual void exportCues(QWidget* tableView, const QList<SelectedCuesExport::Item>& items,
                            std::function<void(const QString&, int)> statusMessage) = 0;
};

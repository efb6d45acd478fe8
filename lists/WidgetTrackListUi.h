#pragma once

#include "lists/TrackListUi.h"

// TrackListUi with Qt's dialogs and message boxes and the desktop's file manager.
class WidgetTrackListUi : public TrackListUi {
public:
    QStringList chooseFiles(const QString& title, const QString& folder, const QString& filter) override;
    QString chooseFile(QWidget* parent, const QString& title, const QString& folder, const QString& filter) override;
    QString chooseFolder(QWidget* parent, const QString& title, const QString& folder) override;
    QString chooseFileOrFolder(QWidget* parent, const QString& title, const QString& folder,
                               const QString& filter) override;
    void message(QWidget* parent, Icon icon, const QString& title, const QString& text) override;
    bool askToSearchOn(QWidget* parent, const QString& title, const QString& text) override;
    void showInFileManager(const QString& filePath) override;
    void exportCues(QWidget* tableView, const QList<SelectedCuesExport::Item>& items,
                    std::function<void(const QString&, int)> statusMessage) override;
};

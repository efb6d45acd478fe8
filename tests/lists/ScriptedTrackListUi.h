#pragma once

#include "lists/TrackListUi.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <utility>

// The cue table's dialogs answered from queues (an empty queue cancels) and
// everything it shows or asks recorded, so no test blocks or opens a window.
class ScriptedTrackListUi : public TrackListUi {
public:
    struct Shown {
        Icon icon;
        QString title;
        QString text;
    };

    QStringList filesAnswers;  // one answer of chooseFiles: all these files, then cancel
    QStringList fileAnswers;
    QStringList folderAnswers;
    QStringList fileOrFolderAnswers;
    QList<bool> searchOnAnswers;

    QStringList chooserTitles;
    QStringList chooserFolders;
    QStringList chooserFilters;  // of chooseFiles
    QList<QWidget*> chooserParents;
    QList<Shown> messages;
    QList<Shown> questions;
    QStringList fileManager;
    QList<QList<SelectedCuesExport::Item>> exports;
    std::function<void(const QString&, int)> exportStatus;

    std::function<void()> whileChoosingFiles;  // runs while the chooser is open

    QStringList chooseFiles(const QString& title, const QString& folder, const QString& filter) override
    {
        record(nullptr, title, folder);
        chooserFilters.append(filter);
        if (whileChoosingFiles)
            whileChoosingFiles();
        return std::exchange(filesAnswers, {});
    }
    QString chooseFile(QWidget* parent, const QString& title, const QString& folder, const QString&) override
    {
        record(parent, title, folder);
        return fileAnswers.isEmpty() ? QString() : fileAnswers.takeFirst();
    }
    QString chooseFolder(QWidget* parent, const QString& title, const QString& folder) override
    {
        record(parent, title, folder);
        return folderAnswers.isEmpty() ? QString() : folderAnswers.takeFirst();
    }
    QString chooseFileOrFolder(QWidget* parent, const QString& title, const QString& folder, const QString&) override
    {
        record(parent, title, folder);
        return fileOrFolderAnswers.isEmpty() ? QString() : fileOrFolderAnswers.takeFirst();
    }
    void message(QWidget*, Icon icon, const QString& title, const QString& text) override
    {
        messages.append({icon, title, text});
    }
    bool askToSearchOn(QWidget*, const QString& title, const QString& text) override
    {
        questions.append({Icon::Warning, title, text});
        return !searchOnAnswers.isEmpty() && searchOnAnswers.takeFirst();
    }
    void showInFileManager(const QString& filePath) override { fileManager.append(filePath); }
    void exportCues(QWidget*, const QList<SelectedCuesExport::Item>& items,
                    std::function<void(const QString&, int)> statusMessage) override
    {
        exports.append(items);
        exportStatus = std::move(statusMessage);
    }

private:
    void record(QWidget* parent, const QString& title, const QString& folder)
    {
        chooserParents.append(parent);
        chooserTitles.append(title);
        chooserFolders.append(folder);
    }
};

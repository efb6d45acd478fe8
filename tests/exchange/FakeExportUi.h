#pragma once

#include "exchange/ExportUi.h"

#include <QList>
#include <QPair>
#include <QStringList>

// An ExportUi that answers from a script and records what it was asked to
// show, so export and import flows run in tests without any dialog.
class FakeExportUi : public ExportUi {
public:
    struct Shown {
        Icon icon;
        QString title;
        QString text;
    };

    // Script
    QString folder;             // the folder chooser's answer
    bool pressOpen = false;     // press the result box's open-folder button
    int cancelAtValue = -1;     // cancel once the progress reaches this value

    // Records
    QStringList chooserTitles;
    QStringList chooserStarts;
    QList<Shown> messages;
    QList<Shown> results;
    QStringList openedFolders;
    QList<QPair<QString, int>> statuses;
    QString progressTitle;
    QString progressLabel;
    int progressMaximum = 0;
    int progressValue = 0;
    int progressStarts = 0;
    bool progressOpen = false;
    int cancelSeenAt = -1;  // the progress value when the cancel was first seen

    QString chooseFolder(const QString& title, const QString& start) override
    {
        chooserTitles.append(title);
        chooserStarts.append(start);
        return folder;
    }
    void message(Icon icon, const QString& title, const QString& text) override { messages.append({icon, title, text}); }
    bool resultBox(Icon icon, const QString& title, const QString& text, ResultButtons) override
    {
        results.append({icon, title, text});
        return pressOpen;
    }
    void openFolder(const QString& f) override { openedFolders.append(f); }
    void statusMessage(const QString& text, int timeout) override { statuses.append({text, timeout}); }
    void progressStart(const QString& title, const QString& label, int maximum) override
    {
        progressTitle = title;
        progressLabel = label;
        progressMaximum = maximum;
        progressValue = 0;
        ++progressStarts;
        progressOpen = true;
    }
    void progressSet(int value) override { progressValue = value; }
    bool progressCancelled() override
    {
        const bool cancelled = cancelAtValue >= 0 && progressValue >= cancelAtValue;
        if (cancelled && cancelSeenAt < 0)
            cancelSeenAt = progressValue;
        return cancelled;
    }
    void progressEnd() override { progressOpen = false; }

    QStringList messageTexts() const
    {
        QStringList texts;
        for (const Shown& m : messages)
            texts.append(m.title + "/" + m.text);
        return texts;
    }
};

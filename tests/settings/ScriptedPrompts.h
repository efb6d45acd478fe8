#pragma once

#include "settings/SettingsPanel.h"

#include <QList>
#include <QString>
#include <QUrl>

// Stands in for the operator and the desktop: message boxes are answered
// from a list (Yes when it runs out), opened folders are only recorded.
struct ScriptedPrompts {
    struct Message {
        QMessageBox::Icon icon;
        QString title;
        QString text;
    };
    QList<QMessageBox::StandardButton> answers;
    QList<Message> messages;
    QList<QUrl> openedFolders;

    SettingsPanel::Seams seams(HidDeviceManager* input, int captureTimeoutMs = 30000)
    {
        SettingsPanel::Seams result;
        result.input = input;
        result.captureTimeoutMs = captureTimeoutMs;
        result.showMessage = [this](QWidget*, QMessageBox::Icon icon, const QString& title, const QString& text,
                                    QMessageBox::StandardButtons buttons) {
            messages.append({icon, title, text});
            if (!answers.isEmpty())
                return answers.takeFirst();
            return buttons.testFlag(QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok;
        };
        result.openFolder = [this](const QUrl& folder) {
            openedFolders.append(folder);
            return true;
        };
        return result;
    }

    QStringList titles() const
    {
        QStringList result;
        for (const Message& message : messages)
            result.append(message.title);
        return result;
    }
};

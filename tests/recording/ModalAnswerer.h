#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <functional>

// Answers the modal boxes a test runs into: each message box is noted as
// "title|text" and closed without pressing its buttons; a folder chooser is
// given chooseFolder (cancelled when empty).
class ModalAnswerer : public QObject {
public:
    QStringList seen;
    QString chooseFolder;
    // Pressed in a message box instead of closing it, when it has that text.
    QString pressButton;

    ModalAnswerer()
    {
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, this, [this] { answer(); });
        timer.start();
    }

private:
    void answer()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            seen.append(box->windowTitle() + QLatin1Char('|') + box->text());
            for (QAbstractButton* button : box->buttons()) {
                if (!pressButton.isEmpty() && button->text() == pressButton) {
                    button->click();
                    return;
                }
            }
            box->done(-1);
        } else if (auto* chooser = qobject_cast<QFileDialog*>(modal)) {
            seen.append(QStringLiteral("folder chooser|") + chooser->windowTitle());
            if (chooseFolder.isEmpty()) {
                chooser->reject();
            } else {
                chooser->setDirectory(chooseFolder);
                QMetaObject::invokeMethod(chooser, "accept");
            }
        }
    }

    QTimer timer;
};

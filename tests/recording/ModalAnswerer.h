#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <functional>

// Answers the modal boxes a test runs into: each message box is noted as
// "title|text" and closed without pressing its buttons. A dialog's folder
// question, routed here through answerFolder, is noted as "folder
// chooser|title" and given chooseFolder (cancelled when empty).
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

    QString answerFolder(const QString& title)
    {
        seen.append(QStringLiteral("folder chooser|") + title);
        return chooseFolder;
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
        }
    }

    QTimer timer;
};

#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>

// Answers the message boxes a test runs into, the way an operator would:
// Yes where there is a Yes, else OK. Keeps the text of every box it answered.
class ModalBoxAnswerer : public QObject {
public:
    ModalBoxAnswerer()
    {
        m_timer.setInterval(20);
        connect(&m_timer, &QTimer::timeout, this, &ModalBoxAnswerer::answer);
        m_timer.start();
    }

    QStringList texts() const { return m_texts; }
    bool seen(const QString& text) const { return m_texts.contains(text); }

private:
    void answer()
    {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            if (!box || !box->isVisible() || m_answered.contains(QPointer<QMessageBox>(box)))
                continue;
            m_answered.append(box);
            m_texts.append(box->text());
            QAbstractButton* button = box->button(QMessageBox::Yes);
            if (!button)
                button = box->button(QMessageBox::Ok);
            if (button)
                button->click();
            else
                box->close();
        }
    }

    QTimer m_timer;
    QList<QPointer<QMessageBox>> m_answered;
    QStringList m_texts;
};

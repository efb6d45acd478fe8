#pragma once

#include <QList>
#include <QPair>
#include <QString>

// What an import changed or left out of the file it read (values outside the
// ranges the cue settings bar allows, envelopes too large, missing files),
// counted per kind, so that the operator gets one notice listing them all.
class ImportNotes {
public:
    // what: one line of the notice, such as "预等待超出 0–60 秒，已改为 60 秒".
    void add(const QString& what, int count = 1);
    void merge(const ImportNotes& other);
    bool isEmpty() const { return m_items.isEmpty(); }
    int count(const QString& what) const;
    // The notice: one line per kind with the number of cues or lines.
    QString text() const;

private:
    QList<QPair<QString, int>> m_items;  // in the order first met
};

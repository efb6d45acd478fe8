#pragma once

#include <QObject>

// Selects the whole text of a spin box when it gains focus, so a new value
// can be typed straight over the old one. Never swallows an event.
class SelectAllOnFocusFilter : public QObject {
public:
    explicit SelectAllOnFocusFilter(QObject* parent = nullptr);

    bool eventFilter(QObject* watched, QEvent* event) override;
};

#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;
class QPaintEvent;

// The small frameless, modal dialog with a thin blue bar that the cue table
// shows while it adds imported files or pastes many cues. The loops that
// drive it run on the GUI thread, so each step lets pending events run.
class ImportProgressDialog : public QDialog {
    Q_OBJECT

public:
    explicit ImportProgressDialog(QWidget* parent);

    void setTotal(int total);
    // Nothing before setTotal(); otherwise the bar shows min(current, total)
    // and pending events run once.
    void setProgress(int current);
    void reset();

    int total() const { return m_total; }
    int value() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* m_track = nullptr;
    QProgressBar* m_bar = nullptr;
    int m_total = 0;
};

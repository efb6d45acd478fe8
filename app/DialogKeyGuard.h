#pragma once

#include <QObject>
#include <QPointer>
#include <QShortcut>
#include <QWidget>

#include <functional>

// The main window's application-wide keys (Space, Esc, …) step aside while
// a dialog is open: Esc closing a message box must not also stop the show,
// and a dialog's own keys must not clash with the window's. Decided on each
// key as Qt asks who takes it, so no focus change can be missed.
class DialogKeyGuard : public QObject {
    Q_OBJECT

public:
    using ShortcutList = std::function<QList<QShortcut*>()>;

    // Watches every key of the application for owner's shortcuts.
    DialogKeyGuard(QWidget* owner, ShortcutList shortcuts);
    ~DialogKeyGuard() override;

    // Enables the owner's application-wide shortcuts unless a dialog other
    // than the owner is open.
    void update();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QWidget> m_owner;
    ShortcutList m_shortcuts;
};

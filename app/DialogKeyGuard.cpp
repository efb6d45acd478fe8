#include "app/DialogKeyGuard.h"

#include <QApplication>
#include <QEvent>

DialogKeyGuard::DialogKeyGuard(QWidget* owner, ShortcutList shortcuts)
    : QObject(owner)
    , m_owner(owner)
    , m_shortcuts(std::move(shortcuts))
{
    qApp->installEventFilter(this);
}

DialogKeyGuard::~DialogKeyGuard()
{
    if (qApp)
        qApp->removeEventFilter(this);
}

void DialogKeyGuard::update()
{
    const QWidget* modal = QApplication::activeModalWidget();
    const bool dialogOpen = modal && modal != m_owner;
    for (QShortcut* shortcut : m_shortcuts()) {
        if (shortcut && shortcut->context() == Qt::ApplicationShortcut)
            shortcut->setEnabled(!dialogOpen);
    }
}

bool DialogKeyGuard::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::ShortcutOverride)
        update();
    return QObject::eventFilter(watched, event);
}

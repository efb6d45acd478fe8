#include "app/InputActionRouter.h"

#include "app/HotkeyBindings.h"
#include "input/HidDeviceManager.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QShortcut>
#include <QTextEdit>

InputActionRouter::InputActionRouter(QWidget* window, QWidget* waveformView, QHash<QString, Action> actions)
    : QObject(window)
    , m_window(window)
    , m_waveformView(waveformView)
    , m_actions(std::move(actions))
{
    qApp->installEventFilter(this);
}

InputActionRouter::~InputActionRouter()
{
    if (qApp)
        qApp->removeEventFilter(this);
}

bool InputActionRouter::runAction(const QString& actionId)
{
    const auto it = m_actions.constFind(actionId);
    if (it == m_actions.constEnd() || !*it)
        return false;
    (*it)();
    return true;
}

void InputActionRouter::setupShortcuts()
{
    qDeleteAll(m_shortcuts);
    m_shortcuts.clear();
    if (!m_window)
        return;
    const HidDeviceManager* input = HidDeviceManager::instance();
    for (const HotkeyBindings::Shortcut& binding : HotkeyBindings::shortcuts()) {
        QShortcut* shortcut = nullptr;
        if (binding.scope == HotkeyBindings::Scope::Application) {
            // A key bound as a device key acts through the input manager
            // only, not twice.
            const int code = HotkeyBindings::deviceKeyCode(binding.sequence);
            if (code != 0 && input->isKeyboardKeyBound(code))
                continue;
            shortcut = new QShortcut(binding.sequence, m_window);
            shortcut->setContext(Qt::ApplicationShortcut);
        } else {
            QWidget* view = m_waveformView ? m_waveformView.data() : m_window.data();
            shortcut = new QShortcut(binding.sequence, view);
            shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        }
        const QString actionId = binding.actionId;
        connect(shortcut, &QShortcut::activated, this, [this, actionId] { runAction(actionId); });
        m_shortcuts.append(shortcut);
    }
}

void InputActionRouter::onDeviceButtonPressed(const QString& identifier)
{
    // The settings window takes presses while it captures a binding.
    if (HidDeviceManager::instance()->isCapturing())
        return;
    const QString actionId = HotkeyBindings::deviceAction(identifier);
    if (!actionId.isEmpty())
        runAction(actionId);
}

void InputActionRouter::registerShowModeGlobalHotkeys()
{
    HidDeviceManager* input = HidDeviceManager::instance();
    for (const auto& [actionId, sequence] : HotkeyBindings::showModeHotkeys())
        input->registerGlobalHotkey(actionId, sequence);
}

void InputActionRouter::onGlobalHotkeyTriggered(const QString& id)
{
    static const QStringList dispatched = {QStringLiteral("playPause"), QStringLiteral("prev"),
                                           QStringLiteral("next"), QStringLiteral("stop"),
                                           QStringLiteral("volumeSwitch")};
    if (dispatched.contains(id))
        runAction(id);
}

bool InputActionRouter::isTypingField(const QWidget* widget)
{
    if (const auto* line = qobject_cast<const QLineEdit*>(widget)) {
        const QObject* owner = line->parent();
        if (qobject_cast<const QAbstractSpinBox*>(owner) || qobject_cast<const QComboBox*>(owner))
            return false;
        return !line->isReadOnly();
    }
    if (const auto* text = qobject_cast<const QTextEdit*>(widget))
        return !text->isReadOnly();
    if (const auto* text = qobject_cast<const QPlainTextEdit*>(widget))
        return !text->isReadOnly();
    return false;
}

bool InputActionRouter::isInWindow(const QObject* object) const
{
    if (!m_window || !object || !object->isWidgetType())
        return false;
    return static_cast<const QWidget*>(object)->window() == m_window;
}

bool InputActionRouter::matchesTransportShortcut(const QKeyEvent* event) const
{
    const QKeySequence pressed(event->keyCombination());
    for (const QShortcut* shortcut : m_shortcuts) {
        if (shortcut->context() == Qt::ApplicationShortcut && shortcut->isEnabled() && shortcut->key() == pressed)
            return true;
    }
    return false;
}

QString InputActionRouter::windowKeyAction(const QKeyEvent* event)
{
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    if (modifiers != Qt::NoModifier && modifiers != Qt::KeypadModifier)
        return {};
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_PageUp:
        return QStringLiteral("prev");
    case Qt::Key_Right:
    case Qt::Key_PageDown:
        return QStringLiteral("next");
    case Qt::Key_F5:
        return QStringLiteral("playPause");
    default:
        return {};
    }
}

bool InputActionRouter::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if ((type != QEvent::ShortcutOverride && type != QEvent::KeyPress) || !isInWindow(watched))
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    const auto* widget = static_cast<const QWidget*>(watched);

    if (type == QEvent::ShortcutOverride) {
        // A widget that would take a transport key as input (a spin box
        // takes Space as text) is not asked: left unclaimed, the key goes
        // to the shortcut. A name or remark being typed keeps its keys.
        if (!isTypingField(widget) && matchesTransportShortcut(key)) {
            key->ignore();
            return true;
        }
        return false;
    }

    // The window's own keys, from whichever widget has the focus; the
    // arrows still move the cursor in a field that is typed into.
    const QString action = windowKeyAction(key);
    if (action.isEmpty())
        return false;
    const bool arrow = key->key() == Qt::Key_Left || key->key() == Qt::Key_Right;
    if (arrow && (isTypingField(widget) || qobject_cast<const QAbstractSpinBox*>(widget)
                  || qobject_cast<const QAbstractSpinBox*>(widget->parent())))
        return false;
    key->accept();
    runAction(action);
    return true;
}

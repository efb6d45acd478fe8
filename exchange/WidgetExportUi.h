#pragma once

#include "exchange/ExportUi.h"

#include <QPointer>
#include <QProgressDialog>
#include <QWidget>

#include <functional>

class QDialog;

// ExportUi with real dialogs, all parented to one view (the playlist tree or
// the cue table). It also owns the busy overlay shown while a folder chooser
// opens, and hands status messages to a sink (the view's statusMessage signal).
class WidgetExportUi : public ExportUi {
public:
    using StatusSink = std::function<void(const QString& text, int timeoutMs)>;

    explicit WidgetExportUi(QWidget* parent, StatusSink status = {});
    ~WidgetExportUi() override;

    QWidget* parentWidget() const { return m_parent; }
    // Shows the busy overlay and lets it paint once.
    void showBusyOverlay();
    void closeBusyOverlay();

    QString chooseFolder(const QString& title, const QString& startFolder) override;
    void message(Icon icon, const QString& title, const QString& text) override;
    bool resultBox(Icon icon, const QString& title, const QString& text, ResultButtons buttons) override;
    void openFolder(const QString& folder) override;
    void statusMessage(const QString& text, int timeoutMs) override;

    void progressStart(const QString& title, const QString& label, int maximum) override;
    void progressSet(int value) override;
    bool progressCancelled() override;
    void progressEnd() override;

private:
    QPointer<QWidget> m_parent;
    StatusSink m_status;
    QPointer<QDialog> m_overlay;
    QPointer<QProgressDialog> m_progress;
};

#include "exchange/WidgetExportUi.h"

#include "exchange/BusyOverlay.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

WidgetExportUi::WidgetExportUi(QWidget* parent, StatusSink status)
    : m_parent(parent)
    , m_status(std::move(status))
{
}

WidgetExportUi::~WidgetExportUi()
{
    closeBusyOverlay();
    progressEnd();
}

void WidgetExportUi::showBusyOverlay()
{
    if (m_overlay)
        return;
    m_overlay = new BusyOverlay(m_parent);
    m_overlay->show();
    QApplication::processEvents();
}

void WidgetExportUi::closeBusyOverlay()
{
    if (!m_overlay)
        return;
    m_overlay->close();
    delete m_overlay;
}

QString WidgetExportUi::chooseFolder(const QString& title, const QString& startFolder)
{
    const QString folder = QFileDialog::getExistingDirectory(
        m_parent, title, startFolder, QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    closeBusyOverlay();
    return folder;
}

void WidgetExportUi::message(Icon icon, const QString& title, const QString& text)
{
    switch (icon) {
    case Icon::Information:
        QMessageBox::information(m_parent, title, text);
        break;
    case Icon::Warning:
        QMessageBox::warning(m_parent, title, text);
        break;
    case Icon::Critical:
        QMessageBox::critical(m_parent, title, text);
        break;
    }
}

bool WidgetExportUi::resultBox(Icon icon, const QString& title, const QString& text, ResultButtons buttons)
{
    QMessageBox box(m_parent);
    box.setWindowTitle(title);
    box.setText(text);
    box.setIcon(icon == Icon::Information ? QMessageBox::Information
                                          : (icon == Icon::Warning ? QMessageBox::Warning : QMessageBox::Critical));
    QPushButton* open = nullptr;
    if (buttons == ResultButtons::OpenFolderAndOk) {
        open = box.addButton(QStringLiteral("打开文件夹"), QMessageBox::ActionRole);
        box.setDefaultButton(box.addButton(QMessageBox::Ok));
    } else {
        open = box.addButton(QStringLiteral("打开导出文件夹"), QMessageBox::AcceptRole);
        box.setDefaultButton(box.addButton(QStringLiteral("关闭"), QMessageBox::RejectRole));
    }
    box.exec();
    return box.clickedButton() == open;
}

void WidgetExportUi::openFolder(const QString& folder)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

void WidgetExportUi::statusMessage(const QString& text, int timeoutMs)
{
    if (m_status)
        m_status(text, timeoutMs);
}

void WidgetExportUi::progressStart(const QString& title, const QString& label, int maximum)
{
    progressEnd();
    m_progress = new QProgressDialog(label, QStringLiteral("取消"), 0, maximum, m_parent);
    m_progress->setWindowTitle(title);
    m_progress->setWindowModality(Qt::WindowModal);
    m_progress->setMinimumDuration(300);
    m_progress->setAutoClose(false);
    m_progress->setAutoReset(false);
    m_progress->setValue(0);
}

void WidgetExportUi::progressSet(int value)
{
    if (m_progress)
        m_progress->setValue(value);
}

bool WidgetExportUi::progressCancelled()
{
    return m_progress && m_progress->wasCanceled();
}

void WidgetExportUi::progressEnd()
{
    if (!m_progress)
        return;
    m_progress->close();
    delete m_progress;
}

#include "lists/WidgetTrackListUi.h"

#include "platform/DesktopFileManager.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

QStringList WidgetTrackListUi::chooseFiles(const QString& title, const QString& folder, const QString& filter)
{
    return QFileDialog::getOpenFileNames(nullptr, title, folder, filter);
}

QString WidgetTrackListUi::chooseFile(QWidget* parent, const QString& title, const QString& folder,
                                      const QString& filter)
{
    return QFileDialog::getOpenFileName(parent, title, folder, filter);
}

QString WidgetTrackListUi::chooseFolder(QWidget* parent, const QString& title, const QString& folder)
{
    return QFileDialog::getExistingDirectory(parent, title, folder,
                                             QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
}

QString WidgetTrackListUi::chooseFileOrFolder(QWidget* parent, const QString& title, const QString& folder,
                                              const QString& filter)
{
    QFileDialog dialog(parent, title, folder);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(filter);
    dialog.setOption(QFileDialog::DontResolveSymlinks, true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first();
}

void WidgetTrackListUi::message(QWidget* parent, Icon icon, const QString& title, const QString& text)
{
    if (icon == Icon::Warning)
        QMessageBox::warning(parent, title, text);
    else
        QMessageBox::information(parent, title, text);
}

bool WidgetTrackListUi::askToSearchOn(QWidget* parent, const QString& title, const QString& text)
{
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::NoButton, parent);
    box.addButton(QCoreApplication::translate("TrackListManager", "取消"), QMessageBox::RejectRole);
    QPushButton* searchOn =
        box.addButton(QCoreApplication::translate("TrackListManager", "继续查找"), QMessageBox::AcceptRole);
    box.exec();
    return box.clickedButton() == searchOn;
}

void WidgetTrackListUi::showInFileManager(const QString& filePath)
{
    DesktopFileManager::showFile(filePath);
}

void WidgetTrackListUi::exportCues(QWidget* tableView, const QList<SelectedCuesExport::Item>& items,
                                   std::function<void(const QString&, int)> statusMessage)
{
    SelectedCuesExport::start(tableView, items, std::move(statusMessage));
}

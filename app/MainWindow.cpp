#include "app/MainWindow.h"

#include "app/AppConstants.h"
#include "app/UiStyleManager.h"
#include "platform/PlatformShell.h"
#include "ui_MainWindow.h"

#include <QMenuBar>

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
    , ui(new Ui_MainWindow)
{
    // The palette must be in place before the form's widgets are polished.
    UiStyleManager::applyApplicationStyle();
    ui->setupUi(this);
    removeMenuBar();
    setWindowTitle(AppConstants::kApplicationName);
    PlatformShell::colorWindowCaption(this);
}

MainWindow::~MainWindow()
{
    delete ui;
    ui = nullptr;
}

void MainWindow::removeMenuBar()
{
    // menuBar() makes one on demand; the window has none, not even an empty
    // strip or a global menu on desktops that export it.
    if (QMenuBar* bar = menuBar()) {
        bar->setNativeMenuBar(false);
        bar->setFixedHeight(0);
        bar->hide();
        setMenuBar(nullptr);
    }
}

// The baseline of StartupBench: a bare Qt main window of the program's size,
// started and shown the way the program is (same Qt, same platform, same
// fonts), and nothing else. It prints nothing itself: StartupBench prints
// the start-up figure against this window, with its target.
#include "platform/FontLanguage.h"

#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv)
{
    FontLanguage::useSimplifiedChinese();
    QApplication app(argc, argv);
    QMainWindow window;
    window.resize(1171, 672);
    window.show();
    return app.exec();
}

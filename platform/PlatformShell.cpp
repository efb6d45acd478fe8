#include "platform/PlatformShell.h"

namespace PlatformShell {

bool initializeGuiThread(long* errorCode)
{
    if (errorCode)
        *errorCode = 0;
    return true;
}

void uninitializeGuiThread()
{
}

void colorWindowCaption(QWidget*)
{
}

}  // namespace PlatformShell

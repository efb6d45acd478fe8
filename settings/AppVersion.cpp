#include "settings/AppVersion.h"

// The build passes the project version in (settings/CMakeLists.txt).
#ifndef CORVELLE_VERSION_MAJOR
#error "CORVELLE_VERSION_MAJOR, _MINOR and _PATCH come from the build"
#endif

QString appVersionString()
{
    return QStringLiteral("%1.%2.%3")
               .arg(CORVELLE_VERSION_MAJOR)
               .arg(CORVELLE_VERSION_MINOR)
               .arg(CORVELLE_VERSION_PATCH)
        + QStringLiteral(" (Beta)");
}

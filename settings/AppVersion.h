#pragma once

#include <QString>

// The program's version as the operator sees it, "0.1.0 (Beta)": the project
// version of the build, marked as a beta.
QString appVersionString();

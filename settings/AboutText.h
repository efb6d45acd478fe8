#pragma once

#include <QString>

// The fixed texts of the about tab: who to contact, who holds the rights,
// and the notice that names the libraries this build uses with their
// licences.
namespace AboutText {

QString supportContact();
QString authorLine();
// "© <year> <holder>. 保留所有权利。"
QString rightsLine();

// The rights and acknowledgements notice as plain text (the about tab).
QString noticePlainText();
// The same notice, shorter, as rich text (the credits box).
QString creditsRichText();

}  // namespace AboutText

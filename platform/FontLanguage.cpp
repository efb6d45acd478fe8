#include "platform/FontLanguage.h"

#include <QByteArray>
#include <QtGlobal>

namespace FontLanguage {

void useSimplifiedChinese()
{
    // Fontconfig reads its default language from FC_LANG before the locale.
    qputenv("FC_LANG", QByteArrayLiteral("zh-cn"));
}

}  // namespace FontLanguage

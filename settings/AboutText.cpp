#include "settings/AboutText.h"

#include "settings/AppVersion.h"

#include <QStringList>

namespace AboutText {

namespace {

struct Library {
    const char* name;
    const char* licence;
};

// The libraries this build links, as Debian ships them.
constexpr Library kLibraries[] = {
    {"Qt 6", "GNU LGPL 3.0（部分模块为 GNU GPL 3.0 或商业许可）"},
    {"SQLite", "公有领域（Public Domain）"},
    {"FFmpeg（libavformat、libavcodec、libswresample、libavutil）",
     "GNU LGPL 2.1 或更高版本；Debian 的构建包含 GPL 部分，整体按 GNU GPL 2.0 或更高版本授权"},
    {"SDL2", "zlib 许可证"},
    {"libebur128", "MIT 许可证"},
    {"LAME MP3 编码器", "GNU LGPL 2.0 或更高版本"},
    {"PulseAudio 客户端库（libpulse）", "GNU LGPL 2.1 或更高版本"},
    {"libxlsxwriter", "BSD 2-Clause（FreeBSD）许可证"},
};

const char kProtection[] =
    "本软件及其相关文档受著作权法保护。未经书面许可，任何人不得复制、修改或分发本软件及其文档的任何部分。";
const char kLicenceTexts[] = "各许可证全文随各组件一同提供（Debian 系统位于 /usr/share/doc/<软件包名>/copyright）。";
const char kRecording[] =
    "录音功能是中立的音频采集工具，不授予用户对他人内容的任何权利。用户只应录制自己拥有权利或已获授权的内容；"
    "不得录制受 DRM 保护的内容；录制他人的声音须事先征得其同意。录音文件的权利归被录制内容的权利人所有，"
    "因使用录音功能产生的一切法律责任由用户自行承担。";
const char kWarranty[] =
    "本软件按“现状”提供，不附带任何明示或暗示的担保。在任何情况下，作者均不对因使用本软件而产生的任何损失承担责任。";

QString libraryLine(const Library& library)
{
    return QString::fromUtf8(library.name) + QStringLiteral(" — ") + QString::fromUtf8(library.licence);
}

}  // namespace

QString supportContact()
{
    return QStringLiteral("support@vostrand.example");
}

QString authorLine()
{
    return QStringLiteral("Vostrand 开发团队");
}

QString rightsLine()
{
    return QStringLiteral("© 2026 Vostrand. 保留所有权利。");
}

QString noticePlainText()
{
    QStringList lines;
    lines << QStringLiteral("Corvelle");
    lines << rightsLine() << QString() << QString::fromUtf8(kProtection) << QString();
    lines << QStringLiteral("【第三方库致谢】") << QStringLiteral("本软件使用了以下开源组件，谨向其作者致谢：");
    for (const Library& library : kLibraries)
        lines << QStringLiteral("• ") + libraryLine(library);
    lines << QString::fromUtf8(kLicenceTexts) << QString();
    lines << QStringLiteral("【录音功能版权免责声明】") << QString::fromUtf8(kRecording) << QString();
    lines << QStringLiteral("【免责声明】") << QString::fromUtf8(kWarranty) << QString();
    lines << QStringLiteral("【版本信息】") << QStringLiteral("软件版本：%3").arg(appVersionString());
    return lines.join(QLatin1Char('\n'));
}

QString creditsRichText()
{
    QString items;
    for (const Library& library : kLibraries)
        items += QStringLiteral("<li>") + libraryLine(library).toHtmlEscaped() + QStringLiteral("</li>");
    return QStringLiteral("<h3>Corvelle v%1</h3>").arg(appVersionString().toHtmlEscaped())
        + QStringLiteral("<p>%1</p>").arg(rightsLine().toHtmlEscaped())
        + QStringLiteral("<p>%1</p>").arg(QString::fromUtf8(kProtection).toHtmlEscaped())
        + QStringLiteral("<p><b>第三方库致谢</b></p><ul>") + items + QStringLiteral("</ul>")
        + QStringLiteral("<p>%1</p>").arg(QString::fromUtf8(kLicenceTexts).toHtmlEscaped())
        + QStringLiteral("<p><b>录音功能版权免责声明：</b>%1</p>").arg(QString::fromUtf8(kRecording).toHtmlEscaped())
        + QStringLiteral("<p>%1</p>").arg(QString::fromUtf8(kWarranty).toHtmlEscaped())
        + QStringLiteral("<p>技术支持：%2  作者：%3</p>")
              .arg(supportContact().toHtmlEscaped(), authorLine().toHtmlEscaped());
}

}  // namespace AboutText

#include "exchange/ExportNames.h"

#include <QDir>
#include <QFileInfo>

namespace {

bool isRemoved(QChar c)
{
    switch (c.unicode()) {
    case '<':
    case '>':
    case ':':
    case '/':
    case '\\':
    case '|':
    case '?':
    case '*':
    case '"':
        return true;
    default:
        return c.unicode() < 0x20 || c.unicode() == 0x7f;
    }
}

}  // namespace

QString ExportNames::clean(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        if (!isRemoved(c))
            out.append(c);
    }
    return out;
}

QString ExportNames::component(const QString& text)
{
    const QString cleaned = clean(text);
    if (cleaned.trimmed().isEmpty() || cleaned == QLatin1String(".") || cleaned == QLatin1String(".."))
        return {};
    return cleaned;
}

QString ExportNames::playlistFileName(const QString& displayText)
{
    const QString name = displayText.isEmpty() ? QStringLiteral("未命名") : displayText;
    const QString cleaned = component(name);
    return cleaned.isEmpty() ? QStringLiteral("playlist") : cleaned;
}

QString ExportNames::cueFileName(const CueNaming& naming, int number, const QString& alias,
                                 const QString& audioFilePath, int cueId)
{
    const QString base = clean(QFileInfo(audioFilePath).completeBaseName());
    const bool hasAlias = !alias.isEmpty();
    QString name;
    bool first = true;
    auto add = [&](QLatin1Char separator, const QString& part) {
        name = first ? part : name + separator + part;
        first = false;
    };
    if (naming.useSeq)
        add(QLatin1Char('.'), QStringLiteral("%1").arg(number, 2, 10, QLatin1Char('0')));
    // Without an alias the base would stand in for it and then again as the
    // file-name part; it is written once.
    if (naming.useAlias && (hasAlias || !naming.useFilename))
        add(QLatin1Char('.'), hasAlias ? clean(alias) : base);
    if (naming.useFilename)
        add(naming.useAlias && hasAlias ? QLatin1Char('-') : QLatin1Char('.'), base);
    if (first)
        name = base;
    if (component(name).isEmpty())
        name = QStringLiteral("cue_%1").arg(cueId);
    return name;
}

QString ExportNames::uniqueFileName(const QString& folder, const QString& name, const QString& extension,
                                    const QSet<QString>& taken, bool avoidExisting)
{
    auto isFree = [&](const QString& candidate) {
        if (taken.contains(candidate.toLower()))
            return false;
        return !avoidExisting || !QFileInfo::exists(folder + QLatin1Char('/') + candidate);
    };
    QString candidate = name + extension;
    for (int counter = 1; !isFree(candidate); ++counter)
        candidate = QStringLiteral("%1_%2%3").arg(name).arg(counter).arg(extension);
    return candidate;
}

bool ExportNames::isInside(const QString& folder, const QString& path)
{
    const QString root = QDir::cleanPath(QDir(folder).absolutePath());
    const QString target = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    return target.startsWith(root + QLatin1Char('/')) || (root == QLatin1String("/") && target.size() > 1);
}

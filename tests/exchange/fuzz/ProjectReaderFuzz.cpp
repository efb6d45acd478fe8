// Any bytes as a project file: the reader must neither crash nor hang, and
// what it hands on must be bounded.
#include "exchange/ProjectFileReader.h"

#include <QJsonObject>
#include <QtGlobal>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const ProjectDocument document = ProjectFileReader::parse(bytes);
    for (const QJsonValue& value : document.cues) {
        const ProjectCueEntry entry = ProjectFileReader::cueEntry(value, QStringLiteral("/base"));
        const QString stored = value.toObject().value(QLatin1String("filePath")).toString();
        if (stored.startsWith(QLatin1String("CUESOUND"), Qt::CaseInsensitive) && stored.size() > 8
            && (stored[8] == QLatin1Char('/') || stored[8] == QLatin1Char('\\')) && !entry.filePath.isEmpty()) {
            // A copied-audio path stays a plain file inside the project's CUESOUND folder.
            const QString name = entry.filePath.mid(15);
            if (!entry.filePath.startsWith(QLatin1String("/base/CUESOUND/")) || name.contains(QLatin1Char('/'))
                || name == QLatin1String("..") || name == QLatin1String(".") || name.isEmpty())
                std::abort();
        }
        if (entry.volumeTimes.size() > ProjectFileReader::kMaxEnvelopePoints
            || entry.volumeTimes.size() != entry.volumeGains.size()
            || entry.panTimes.size() != entry.panPositions.size())
            std::abort();
        if (entry.durationMs < 0 || entry.startMs < 0 || entry.endMs < 0)
            std::abort();
    }
    return 0;
}

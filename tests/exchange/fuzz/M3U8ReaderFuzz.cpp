// Any bytes as an M3U8 list: read without crashing or hanging; every path
// read is absolute or a drive path, and a title written from anything reads
// back as no path.
#include "exchange/M3U8Text.h"

#include <QDir>
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
    const M3U8Text::Reading reading = M3U8Text::read(bytes, QStringLiteral("/list"));
    for (const QString& path : reading.paths) {
        if (path.isEmpty())
            std::abort();
    }
    // A written entry's title never turns into a line of its own.
    const QString text = QString::fromUtf8(bytes);
    const QByteArray written = M3U8Text::write({{1000, M3U8Text::title(text, QString()), QStringLiteral("MUSIC/a.wav")}});
    if (M3U8Text::read(written, QStringLiteral("/list")).paths != QStringList{QStringLiteral("/list/MUSIC/a.wav")})
        std::abort();
    return 0;
}

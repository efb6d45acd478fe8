#include "exchange/DroppedFilesImport.h"

#include "exchange/M3U8PlaylistIO.h"
#include "exchange/ProjectFileIO.h"
#include "exchange/WidgetExportUi.h"
#include "playback/CueManager.h"

#include <QDebug>
#include <QDropEvent>
#include <QMimeData>

DroppedFilesImport::Sorted DroppedFilesImport::sort(const QList<QUrl>& urls)
{
    Sorted sorted;
    for (const QUrl& url : urls) {
        const QString path = url.toLocalFile();
        if (path.isEmpty())
            continue;
        if (path.endsWith(QLatin1String(".crv"), Qt::CaseInsensitive))
            sorted.projects.append(path);
        else if (path.endsWith(QLatin1String(".m3u8"), Qt::CaseInsensitive))
            sorted.playlists.append(path);
    }
    return sorted;
}

bool DroppedFilesImport::importFiles(const QList<QUrl>& urls, ExportUi& ui, const Imported& onImported,
                                     CueManager* cues)
{
    const Sorted sorted = sort(urls);
    if (sorted.projects.isEmpty() && sorted.playlists.isEmpty()) {
        qWarning() << "[Import] No CRV or M3U8 files found in drop";
        return false;
    }
    auto report = [&onImported](const PlaylistImportResult& result) {
        if (result.succeeded() && onImported)
            onImported(result);
    };
    for (const QString& path : sorted.projects)
        report(ProjectFileIO::importProject(path, ui, cues ? cues : CueManager::instance()));
    for (const QString& path : sorted.playlists)
        report(M3U8PlaylistIO::importM3U8(path, ui, cues));
    return true;
}

bool DroppedFilesImport::importDroppedFiles(QDropEvent* event, QWidget* treeView, const Imported& onImported)
{
    if (!event || !event->mimeData() || !event->mimeData()->hasUrls())
        return false;
    WidgetExportUi ui(treeView);
    if (!importFiles(event->mimeData()->urls(), ui, onImported))
        return false;
    event->acceptProposedAction();
    return true;
}

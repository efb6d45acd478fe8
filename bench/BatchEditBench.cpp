// Times one step of a batch edit in the cue settings bar: every move of a
// volume bar over a multi-selection writes the batch into all selected cues.
// The cues are stored once the edits pause, a chunk per pass of the event
// loop; the longest of those passes is timed too. Both are compared with
// storing every selected cue at each step, one commit each, as a batch edit
// otherwise would, measured in the same run.
#include "BenchRun.h"
#include "app/BatchEditSession.h"
#include "model/BatchCue.h"
#include "model/Cue.h"
#include "model/DatabaseManager.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

constexpr int kSelected = 200;
constexpr int kSteps = 50;

double ms(const QElapsedTimer& timer)
{
    return double(timer.nsecsElapsed()) / 1e6;
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules("*.warning=false");
    QTextStream out(stdout);
    QTemporaryDir dir;
    if (!DatabaseManager::instance()->initialize(dir.filePath("bench.db")))
        return 1;

    std::vector<std::unique_ptr<Cue>> owned;
    QList<Cue*> cues;
    for (int i = 0; i < kSelected; ++i) {
        auto cue = std::make_unique<Cue>(-1, "cue", QStringLiteral("/show/audio/cue-%1.mp3").arg(i));
        cue->setDuration(180000);
        cue->setColor("#4a5a6a");
        QList<qint64> times;
        QList<double> gains;
        for (int k = 0; k < 20; ++k) {
            times << k * 9000;
            gains << 0.5;
        }
        cue->setVolumeEnvelope(times, gains);
        cue->setPanEnvelope(times, QList<double>(20, 0.0));
        cue->saveToDatabase(false);
        cues << cue.get();
        owned.push_back(std::move(cue));
    }

    // Baseline: the same stores, one commit per cue.
    std::vector<double> oneByOne;
    for (int step = 0; step < kSteps; ++step) {
        QElapsedTimer timer;
        timer.start();
        for (Cue* cue : cues) {
            cue->setVolumeA(step % 101);
            cue->saveToDatabase(true);
        }
        oneByOne.push_back(ms(timer));
    }

    BatchEditSession session(cues);
    std::vector<double> batched;
    for (int step = 0; step < kSteps; ++step) {
        QElapsedTimer timer;
        timer.start();
        session.batch()->volumeA = 100 - step;
        session.batch()->volumeAModified = true;
        Q_EMIT session.batch()->dataChanged();
        batched.push_back(ms(timer));
    }

    // The passes that store the cues after the edits paused.
    std::vector<double> passes;
    for (int step = 0; step < kSteps; ++step) {
        BatchEditSession chunk(cues.mid(0, BatchEditSession::kSaveChunk));
        chunk.batch()->volumeB = step;
        chunk.batch()->volumeBModified = true;
        Q_EMIT chunk.batch()->dataChanged();
        QElapsedTimer timer;
        timer.start();
        chunk.saveNow();
        passes.push_back(ms(timer));
    }
    session.saveNow();

    out << "batch step, " << kSelected << " cues, stored at each step (baseline): " << BenchRun::median(oneByOne)
        << " ms\n";
    out << "batch step, " << kSelected << " cues: " << BenchRun::median(batched) << " ms (target ≤ 16 ms)\n";
    out << "batch store pass, " << BatchEditSession::kSaveChunk << " cues: "
        << *std::max_element(passes.begin(), passes.end()) << " ms worst (target ≤ 16 ms)\n";
    return 0;
}

#include "recording/ApplicationSourceOrder.h"
#include "recording/RecordingDialog.h"
#include "settings/SettingsKeys.h"

#include <QListWidget>
#include <QScrollBar>
#include <QSettings>
#include <QtTest>

Q_DECLARE_METATYPE(QList<AudioSessionProcess>)

namespace {

QList<AudioSessionProcess> apps(const QString& spec)
{
    // "name:pid name:pid ..."
    QList<AudioSessionProcess> list;
    for (const QString& entry : spec.split(' ', Qt::SkipEmptyParts)) {
        const QStringList parts = entry.split(':');
        list.append({parts.at(0), parts.value(1).toUInt()});
    }
    return list;
}

QString names(const QList<AudioSessionProcess>& list)
{
    QStringList out;
    for (const AudioSessionProcess& app : list)
        out << app.name + ':' + QString::number(app.pid);
    return out.join(' ');
}

RecordingSourceList sources(const QStringList& devices, const QString& applications, bool reachable = true)
{
    RecordingSourceList list;
    list.serverReachable = reachable;
    list.captureDevices = devices;
    list.applications = apps(applications);
    return list;
}

}  // namespace

// The source list: what is offered, in which order, and which choice
// survives the refresh every 2 s.
class RecordingSourcesTest : public QObject {
    Q_OBJECT

private:
    // The list as "text[role]", a "*" marking the checked item.
    static QStringList shown(const RecordingDialog& d)
    {
        QStringList out;
        for (int i = 0; i < d.sourceList->count(); ++i) {
            const QListWidgetItem* item = d.sourceList->item(i);
            QString text = item->text();
            const QString role = item->data(Qt::UserRole).toString();
            if (!role.isEmpty())
                text += '[' + role + ']';
            if (item->checkState() == Qt::Checked)
                text += '*';
            out << text;
        }
        return out;
    }

    static QListWidgetItem* itemNamed(const RecordingDialog& d, const QString& text)
    {
        const auto found = d.sourceList->findItems(text, Qt::MatchExactly);
        return found.isEmpty() ? nullptr : found.first();
    }

    // A dialog whose sources come only from the test.
    static void quiet(RecordingDialog& d)
    {
        d.listSources = nullptr;
        d.sourceRefreshTimer->stop();
    }

private slots:
    void init()
    {
        QSettings().clear();
    }

    void arrange_data()
    {
        QTest::addColumn<QString>("found");
        QTest::addColumn<QStringList>("earlier");
        QTest::addColumn<QString>("expected");
        QTest::newRow("first time: server order") << "vlc:1 firefox:2" << QStringList() << "vlc:1 firefox:2";
        QTest::newRow("earlier order kept") << "vlc:1 firefox:2" << QStringList{"firefox", "vlc"}
                                            << "firefox:2 vlc:1";
        QTest::newRow("a new program goes on top") << "vlc:1 spotify:7 firefox:2" << QStringList{"firefox", "vlc"}
                                                   << "spotify:7 firefox:2 vlc:1";
        QTest::newRow("a program that ended drops out") << "vlc:1" << QStringList{"firefox", "vlc"} << "vlc:1";
        QTest::newRow("new process id, same place") << "vlc:9 firefox:2" << QStringList{"vlc", "firefox"}
                                                    << "vlc:9 firefox:2";
        QTest::newRow("names compare exactly") << "VLC:1 vlc:2" << QStringList{"vlc"} << "VLC:1 vlc:2";
        QTest::newRow("a name stored twice") << "vlc:1" << QStringList{"vlc", "vlc"} << "vlc:1";
        QTest::newRow("nothing plays") << "" << QStringList{"vlc"} << "";
    }
    void arrange()
    {
        QFETCH(QString, found);
        QFETCH(QStringList, earlier);
        QTEST(names(ApplicationSourceOrder::arrange(apps(found), earlier)), "expected");
    }

    void populate_data()
    {
        QTest::addColumn<bool>("reachable");
        QTest::addColumn<QStringList>("devices");
        QTest::addColumn<QString>("applications");
        QTest::addColumn<QString>("lastSource");
        QTest::addColumn<QStringList>("appOrder");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QString>("rememberedAfter");
        const QString dev = QStringLiteral("== 音频设备 ==");
        const QString soft = QStringLiteral("== 软音源 ==");
        const QString all = QStringLiteral("ALL (录制所有声音)[all]");
        const QString none = QStringLiteral("(未检测到正在播放音频的应用)");
        QTest::newRow("first use: the first device is chosen")
            << true << QStringList{"USB Mic", "Line In"} << "firefox:5" << "" << QStringList()
            << QStringList{dev, "USB Mic[device]*", "Line In[device]", soft, all, "firefox[application]"}
            << "USB Mic";
        QTest::newRow("first use, no device: nothing chosen")
            << true << QStringList() << "" << "" << QStringList() << QStringList{dev, soft, all, none} << "";
        QTest::newRow("the last source comes back")
            << true << QStringList{"USB Mic"} << "vlc:3 firefox:5" << "firefox" << QStringList()
            << QStringList{dev, "USB Mic[device]", soft, all, "vlc[application]", "firefox[application]*"}
            << "firefox";
        QTest::newRow("a last source that is gone: nothing chosen")
            << true << QStringList{"USB Mic"} << "vlc:3" << "spotify" << QStringList()
            << QStringList{dev, "USB Mic[device]", soft, all, "vlc[application]"} << "spotify";
        QTest::newRow("the stored application order")
            << true << QStringList() << "vlc:3 firefox:5 spotify:8" << "ALL (录制所有声音)"
            << QStringList{"spotify", "vlc"}
            << QStringList{dev, soft, "ALL (录制所有声音)[all]*", "firefox[application]", "spotify[application]",
                           "vlc[application]"}
            << "ALL (录制所有声音)";
        QTest::newRow("no sound server") << false << QStringList() << "" << "" << QStringList()
                                         << QStringList{dev, "系统默认录音设备[device]*", soft, all, none}
                                         << "系统默认录音设备";
    }
    void populate()
    {
        QFETCH(bool, reachable);
        QFETCH(QStringList, devices);
        QFETCH(QString, applications);
        QFETCH(QString, lastSource);
        QFETCH(QStringList, appOrder);
        QSettings settings;
        if (!lastSource.isEmpty())
            settings.setValue(SettingsKeys::kRecordingLastSource, lastSource);
        if (!appOrder.isEmpty())
            settings.setValue(SettingsKeys::kRecordingAppOrder, appOrder);
        RecordingDialog d;
        quiet(d);
        d.onSourceListReady(sources(devices, applications, reachable));
        QTEST(shown(d), "expected");
        QTEST(QSettings().value(SettingsKeys::kRecordingLastSource).toString(), "rememberedAfter");
        // Headers and the placeholder are no sources.
        for (int i = 0; i < d.sourceList->count(); ++i) {
            const QListWidgetItem* item = d.sourceList->item(i);
            const bool source = !item->data(Qt::UserRole).toString().isEmpty();
            QCOMPARE(item->flags().testFlag(Qt::ItemIsSelectable), source);
        }
    }

    // The list before the server answered holds what is always there; the
    // operator's choice made meanwhile survives the answer.
    void choiceBeforeTheFirstAnswer()
    {
        RecordingDialog d;
        quiet(d);
        QCOMPARE(shown(d), (QStringList{"== 音频设备 ==", "== 软音源 ==", "ALL (录制所有声音)[all]"}));
        d.onSourceItemClicked(itemNamed(d, "ALL (录制所有声音)"));
        d.onSourceListReady(sources({"USB Mic"}, "vlc:3"));
        QCOMPARE(d.checkedSourceText(), QString("ALL (录制所有声音)"));
        QCOMPARE(shown(d).size(), 5);
    }

    void refreshKeepsOrderAndChoice()
    {
        RecordingDialog d;
        quiet(d);
        d.onSourceListReady(sources({"USB Mic"}, "vlc:3 firefox:5"));
        d.onSourceItemClicked(itemNamed(d, "firefox"));
        QCOMPARE(d.checkedSourceText(), QString("firefox"));

        // spotify starts, firefox restarts with another process id.
        d.onSourceListReady(sources({"ignored"}, "spotify:8 firefox:6 vlc:3"));
        QCOMPARE(shown(d), (QStringList{"== 音频设备 ==", "USB Mic[device]", "== 软音源 ==",
                                        "ALL (录制所有声音)[all]", "spotify[application]", "vlc[application]",
                                        "firefox[application]*"}));
        QCOMPARE(itemNamed(d, "firefox")->data(Qt::UserRole + 1).toUInt(), 6u);

        // The checked program ends: nothing is checked afterwards.
        d.onSourceListReady(sources({}, "spotify:8 vlc:3"));
        QCOMPARE(d.checkedSourceText(), QString());
        QCOMPARE(shown(d).mid(4), (QStringList{"spotify[application]", "vlc[application]"}));

        // "all" stays checked; then nothing plays at all.
        d.onSourceItemClicked(itemNamed(d, "ALL (录制所有声音)"));
        d.onSourceListReady(sources({}, ""));
        QCOMPARE(shown(d).mid(3), (QStringList{"ALL (录制所有声音)[all]*", "(未检测到正在播放音频的应用)"}));

        // A device choice is not touched by a refresh.
        d.onSourceItemClicked(itemNamed(d, "USB Mic"));
        d.onSourceListReady(sources({}, "vlc:3"));
        QCOMPARE(d.checkedSourceText(), QString("USB Mic"));
    }

    void refreshKeepsTheScrollPosition()
    {
        RecordingDialog d;
        quiet(d);
        QString many;
        for (int i = 0; i < 60; ++i)
            many += QStringLiteral("app%1:%2 ").arg(i).arg(i + 100);
        d.onSourceListReady(sources({}, many));
        d.resize(900, 600);
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        QScrollBar* bar = d.sourceList->verticalScrollBar();
        QVERIFY(bar->maximum() > 10);
        bar->setValue(bar->maximum() / 2);
        const int value = bar->value();
        d.onSourceListReady(sources({}, many));
        QCOMPARE(bar->value(), value);
    }

    void clicksChooseExactlyOne()
    {
        RecordingDialog d;
        quiet(d);
        d.onSourceListReady(sources({"USB Mic"}, "vlc:3"));
        QCOMPARE(d.checkedSourceText(), QString("USB Mic"));
        d.onSourceItemClicked(itemNamed(d, "== 软音源 =="));
        d.onSourceItemClicked(itemNamed(d, "(未检测到正在播放音频的应用)"));
        QCOMPARE(d.checkedSourceText(), QString("USB Mic"));
        QListWidgetItem* vlc = itemNamed(d, "vlc");
        vlc->setCheckState(Qt::Unchecked);  // a click into its box unchecks it first
        d.onSourceItemClicked(vlc);
        QCOMPARE(shown(d).filter("*").size(), 1);
        QCOMPARE(d.checkedSourceText(), QString("vlc"));
        QCOMPARE(QSettings().value(SettingsKeys::kRecordingLastSource).toString(), QString("vlc"));
    }

    // From the start of a recording to its end the list does not change.
    void noRefreshWhileRecording()
    {
        RecordingDialog d;
        quiet(d);
        d.onSourceListReady(sources({"USB Mic"}, "vlc:3"));
        d.state = RecordingDialog::Recording;
        d.onSourceListReady(sources({"USB Mic"}, "spotify:8"));
        QVERIFY(itemNamed(d, "vlc"));
        QVERIFY(!itemNamed(d, "spotify"));
        d.state = RecordingDialog::Idle;
    }

    // The order of the programs survives the dialog.
    void orderKeptAcrossOpenings()
    {
        {
            RecordingDialog d;
            quiet(d);
            d.onSourceListReady(sources({}, "vlc:3 firefox:5"));
            d.onSourceListReady(sources({}, "spotify:8 vlc:3 firefox:5"));
            d.reject();
        }
        QCOMPARE(QSettings().value(SettingsKeys::kRecordingAppOrder).toStringList(),
                 (QStringList{"spotify", "vlc", "firefox"}));
        RecordingDialog d;
        quiet(d);
        d.onSourceListReady(sources({}, "firefox:5 vlc:3 spotify:8 mpv:9"));
        QCOMPARE(shown(d).mid(3), (QStringList{"mpv[application]", "spotify[application]", "vlc[application]",
                                               "firefox[application]"}));
    }
};

QTEST_MAIN(RecordingSourcesTest)
#include "RecordingSourcesTest.moc"

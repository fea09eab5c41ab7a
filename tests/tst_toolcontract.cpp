// The tool contract, the detector's ini file, and the output monitor with
// its run log.

#include "TestSupport.h"

#include "core/PropertyList.h"
#include "core/ResultParsers.h"
#include "jobs/RunPipeline.h"
#include "progress/ProgressIndicator.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTemporaryDir>

class TestToolContract final : public QObject
{
    Q_OBJECT

private slots:
    void testDetectArguments()
    {
        Harness h;
        h.controller.toolLocator().setHelperDirectories({standInTools()}, false);
        h.controller.setRecording(QStringLiteral("/videos/show.mpg"));
        QCOMPARE(h.controller.detectArguments(),
                 (QStringList{standInTools() + QStringLiteral("/comskip"), QStringLiteral("--csvout"),
                              QStringLiteral("--ini=/videos/show.ini"), QStringLiteral("/videos/show.mpg")}));
    }

    void testRemoveArguments_data()
    {
        QTest::addColumn<bool>("noSkip");
        QTest::addColumn<bool>("edlSeek");
        QTest::addColumn<QStringList>("options");
        QTest::newRow("neither") << false << false << QStringList();
        QTest::newRow("no skip") << true << false << QStringList{"-noskip", "-mc", "0"};
        QTest::newRow("edl seek") << false << true << QStringList{"-hr-edl-seek"};
        QTest::newRow("both") << true << true << QStringList{"-noskip", "-mc", "0", "-hr-edl-seek"};
    }
    void testRemoveArguments()
    {
        QFETCH(bool, noSkip);
        QFETCH(bool, edlSeek);
        QFETCH(QStringList, options);
        Harness h;
        h.controller.toolLocator().setHelperDirectories({standInTools()}, false);
        h.controller.setRecording(QStringLiteral("/videos/show.mpg"));
        h.ui().mOutputField->setText(QStringLiteral("/out/show cut.mpg"));
        h.ui().mRemoveNoSkip->setChecked(noSkip);
        h.ui().mRemoveEDLSeek->setChecked(edlSeek);
        QStringList expected{standInTools() + QStringLiteral("/mencoder"),
                             "-oac",
                             "copy",
                             "-ovc",
                             "copy",
                             "-of",
                             "mpeg",
                             "-mpegopts",
                             "format=mpeg2:tsaf:muxrate=36000",
                             "-forceidx"};
        expected << options << "-edl"
                 << "/videos/show.edl"
                 << "-o"
                 << "/out/show cut.mpg"
                 << "/videos/show.mpg";
        QCOMPARE(h.controller.removeArguments(), expected);
        // A mixed check box counts as off.
        h.ui().mRemoveNoSkip->setTristate(true);
        h.ui().mRemoveNoSkip->setCheckState(Qt::PartiallyChecked);
        QVERIFY(!h.controller.removeArguments().contains(QStringLiteral("-noskip")));
    }

    void testRecordingNamedLikeAnOption()
    {
        Harness h;
        h.controller.setRecording(QStringLiteral("-show.mpg"));
        QCOMPARE(h.controller.detectArguments().last(), QStringLiteral("./-show.mpg"));
    }

    void testLookupOrder()
    {
        QTemporaryDir first;
        const QString own = first.filePath(QStringLiteral("comskip"));
        writeFile(own, "#!/bin/sh\n");
        QFile::setPermissions(own, QFile::ReadOwner | QFile::ExeOwner);
        ToolLocator locator;
        locator.setHelperDirectories({first.path(), standInTools()}, false);
        QCOMPARE(locator.pathForAuxiliaryExecutable(QStringLiteral("comskip")), own);
        QCOMPARE(locator.pathForAuxiliaryExecutable(QStringLiteral("mencoder")),
                 standInTools() + QStringLiteral("/mencoder"));
        QCOMPARE(locator.pathForAuxiliaryExecutable(QStringLiteral("sh")), QString());
        locator.setHelperDirectories({first.path()}, true);
        QCOMPARE(locator.pathForAuxiliaryExecutable(QStringLiteral("sh")), QStringLiteral("/usr/bin/sh"));
    }

    void testSettingsResourceSuitsTheDetector()
    {
        Harness h;
        const QVariantMap &d = h.controller.iniFileData();
        QCOMPARE(d.value(QStringLiteral("output_edl")).toInt(), 1);
        QCOMPARE(d.value(QStringLiteral("output_default")).toInt(), 1);
        QVERIFY(d.size() > 20);
        QVERIFY(!h.controller.loadDetectionSettings(QStringLiteral(":/settings/missing.plist")));
    }

    void testIniFileContent_data()
    {
        QTest::addColumn<QStringList>("checked");
        QTest::addColumn<QStringList>("lines");
        const QStringList detectBoxes{
            "mDetectBlackFrame",     "mDetectStationLogo", "mDetectSceneChange", "mDetectResolutionChange",
            "mDetectClosedCaptions", "mDetectAspectRatio", "mDetectSilence",     "mDetectCutscenes"};
        QTest::newRow("none") << QStringList()
                              << QStringList{"delete_show_after_last_commercial=0",
                                             "delete_show_before_first_commercial=0", "detect_method=0",
                                             "logo_at_bottom=0", "ticker_tape=0"};
        QTest::newRow("all") << (detectBoxes
                                 + QStringList{"mOptionHasTickertape", "mOptionDeleteBefore",
                                               "mOptionDeleteAfter", "mOptionLogoAtBottom"})
                             << QStringList{"delete_show_after_last_commercial=1",
                                            "delete_show_before_first_commercial=1", "detect_method=255",
                                            "logo_at_bottom=1", "ticker_tape=60"};
        QTest::newRow("black and silence")
            << QStringList{"mDetectBlackFrame", "mDetectSilence"}
            << QStringList{"delete_show_after_last_commercial=0", "delete_show_before_first_commercial=0",
                           "detect_method=65", "logo_at_bottom=0", "ticker_tape=0"};
    }
    void testIniFileContent()
    {
        QFETCH(QStringList, checked);
        QFETCH(QStringList, lines);
        QTemporaryDir dir;
        Harness h;
        h.controller.setRecording(dir.filePath(QStringLiteral("show.mpg")));
        // Only the five controlled settings: an empty resource.
        h.controller.setDetectionSettings({});
        const auto boxes = h.windows.mainWindow()->findChildren<QCheckBox *>();
        for (QCheckBox *box : boxes)
            box->setChecked(checked.contains(box->objectName()));
        h.controller.writeIniFile();
        const QByteArray ini = readAll(dir.filePath(QStringLiteral("show.ini")));
        QVERIFY(ini.endsWith('\n'));
        QVERIFY(!ini.contains("\n\n"));
        QStringList got = QString::fromLatin1(ini).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        got.sort();
        QCOMPARE(got, lines);
    }

    void testIniFileResourceValues()
    {
        QTemporaryDir dir;
        Harness h;
        h.controller.setRecording(dir.filePath(QStringLiteral("show.mpg")));
        h.controller.setDetectionSettings({{QStringLiteral("logo_at_bottom"), 7},
                                           {QStringLiteral("comskip_ini_key"), QString()},
                                           {QStringLiteral("zero_text"), QStringLiteral("0")},
                                           {QStringLiteral("fraction"), 0.75},
                                           {QStringLiteral("flag"), true}});
        h.ui().mOptionLogoAtBottom->setChecked(true);
        h.controller.writeIniFile();
        const QString ini = QString::fromLatin1(readAll(dir.filePath(QStringLiteral("show.ini"))));
        QVERIFY(ini.contains(QStringLiteral("\nlogo_at_bottom=1\n")));
        QVERIFY(!ini.contains(QStringLiteral("comskip_ini_key")));
        QVERIFY(ini.contains(QStringLiteral("zero_text=0\n")));
        QVERIFY(ini.contains(QStringLiteral("fraction=0.75\n")));
        QVERIFY(ini.contains(QStringLiteral("flag=1\n")));
        QCOMPARE(ini.count(QLatin1Char('\n')), 8);
        QVERIFY(!QDir(dir.path()).entryList().join(QLatin1Char(' ')).contains(QStringLiteral("show.ini.")));
    }

    void testPropertyListShapes()
    {
        QCOMPARE(parsePropertyList(QByteArray("not a plist")), QVariant());
        const QVariant v = parsePropertyList(
            "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>g</key><dict><key>n</key>"
            "<integer>-3</integer><key>s</key><string>x</string></dict><key>bad</key><string>y</string>"
            "</dict></plist>");
        QCOMPARE(v.toMap().value(QStringLiteral("g")).toMap().value(QStringLiteral("n")).toLongLong(), -3);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("s.plist"));
        writeFile(path, "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>g</key><dict><key>a</key>"
                        "<integer>1</integer></dict><key>bad</key><string>y</string></dict></plist>");
        Harness h(false);
        QVERIFY(h.controller.loadDetectionSettings(path));
        QCOMPARE(h.controller.iniFileData(), (QVariantMap{{QStringLiteral("a"), qint64(1)}}));
        writeFile(path, "garbage");
        QVERIFY(h.controller.loadDetectionSettings(path));
        QVERIFY(h.controller.iniFileData().isEmpty());
    }

    void testPropertyListStringWithNulByte()
    {
        // Found by fuzzing: a string node holding a NUL byte made libplist's
        // copying getter abort the application.
        const QByteArray bytes =
            readAll(QStringLiteral(TRIMLET_TEST_DATA "/fuzz/plist-string-with-nul.plist"));
        QVERIFY(bytes.contains('\0'));
        parsePropertyList(bytes);
        const QVariant v = parsePropertyList(QByteArray(
            "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><string>a\0b</string></array></plist>",
            85));
        QCOMPARE(v.toList().value(0).toString().size(), 3);
    }

    void testProgressScan_data()
    {
        QTest::addColumn<QString>("chunk");
        QTest::addColumn<bool>("isProgress");
        QTest::addColumn<int>("percent"); // -1: no value
        QTest::newRow("comskip") << QStringLiteral(
            " 0:00:57 - 1734 frames in 1.00 sec(1734.00 fps), 1.00 sec(1734.00 fps), 15%")
                                 << true << 15;
        QTest::newRow("mencoder 0") << QStringLiteral(
            "Pos:   0.1s      3f ( 0%)  0.00fps Trem:   0min   0mb  A-V:-0.007 [0:0]")
                                    << true << 0;
        QTest::newRow("mencoder 100") << QStringLiteral(
            "Pos: 284.0s   7740f (100%)  0.00fps Trem:   0min  40mb  A-V:-0.063 [1124:96]\r")
                                      << true << 100;
        QTest::newRow("blank 43") << QStringLiteral("x frames in y 43%") << true << 43;
        QTest::newRow("12.5") << QStringLiteral("Pos: 12.5%") << true << 5;
        QTest::newRow("no digit before") << QStringLiteral("Pos: abcde%") << true << 0;
        QTest::newRow("five digits") << QStringLiteral("Pos: 12345%") << true << -1;
        QTest::newRow("Pos not at start") << QStringLiteral(" Pos: 12%") << false << -1;
        QTest::newRow("frames in, no %") << QStringLiteral("1 frames in 2") << false << -1;
        QTest::newRow("two lines") << QStringLiteral("Pos: 1.0s (10%)\rPos: 2.0s (20%)\r") << true << 20;
        QTest::newRow("% near start") << QStringLiteral("Pos:%") << true << 0;
        QTest::newRow("digits from start") << QStringLiteral("7%Pos: frames in ") << true << 7;
        QTest::newRow("bare %") << QStringLiteral("%") << false << -1;
    }
    void testProgressScan()
    {
        QFETCH(QString, chunk);
        QFETCH(bool, isProgress);
        QFETCH(int, percent);
        const results::ProgressScan scan = results::scanProgressChunk(chunk);
        QCOMPARE(scan.isProgress, isProgress);
        QCOMPARE(scan.percent.value_or(-1), percent);
    }

    void testRealToolOutput()
    {
        // Output that Debian's tools wrote, fed piece by piece as they write
        // it: each status line ends in a carriage return.
        for (const char *name : {"comskip-output.txt", "mencoder-output.txt"}) {
            const QString text =
                QString::fromUtf8(readAll(QStringLiteral(TRIMLET_TEST_DATA "/") + QLatin1String(name)));
            QVERIFY(!text.isEmpty());
            int values = 0;
            qsizetype at = 0;
            while (at < text.size()) {
                qsizetype end = text.indexOf(QLatin1Char('\r'), at);
                end = end < 0 ? text.size() : end + 1;
                const auto scan = results::scanProgressChunk(QStringView(text).mid(at, end - at));
                at = end;
                if (scan.percent) {
                    QVERIFY(*scan.percent >= 0 && *scan.percent <= 100);
                    ++values;
                }
            }
            QVERIFY2(values > 0, name);
        }
    }

    void testToolOutputReachesTheRunLogAndTheProgressRows()
    {
        // A detection and a cut of one run, by the stand-ins: each tool's
        // output goes to the run log in order, its progress to its own row,
        // and what is not progress is kept for a diagnosis.
        QTemporaryDir dir;
        const QString movie = dir.filePath(QStringLiteral("show.mpg"));
        writeFile(movie, QByteArray(4096, 'x'));
        Harness h;
        AppController &c = h.controller;
        c.toolLocator().setHelperDirectories({standInTools()}, false);
        c.openRecording(movie);
        QTRY_VERIFY(!c.probingRecording());
        h.ui().mAutoDetect->setChecked(true);
        h.ui().mAutoRemove->setChecked(true);
        h.ui().mAutoClean->setChecked(false);
        h.ui().mRemoveWithMencoder->setChecked(true);
        c.autoStart();
        QVERIFY(c.logFileOpen());
        QTRY_VERIFY_WITH_TIMEOUT(!c.runInProgress(), 20000);
        QVERIFY(!c.logFileOpen());
        QCOMPARE(h.ui().mDetectProgressIndicator->value(), 100);
        QCOMPARE(h.ui().mRemoveProgressIndicator->value(), 100);
        const QByteArray log = readAll(dir.filePath(logFileName));
        QVERIFY2(log.startsWith("==== Trimlet (process "), log.left(300).constData());
        QVERIFY2(log.contains(".mpg\nComskip stand-in\n"), log.left(300).constData());
        QVERIFY(log.contains(", 25%\r"));
        QVERIFY(log.indexOf("Trimlet: cutting with mencoder") > log.indexOf("Commercials were found."));
        QVERIFY(!c.logExcerpts().contains(QStringLiteral(" frames in ")));
        // A new run adds its part after the last one's, replacing nothing.
        h.ui().mAutoDetect->setChecked(false);
        h.ui().mAutoRemove->setChecked(false);
        c.autoStart();
        QTRY_VERIFY(!c.runInProgress());
        const QByteArray next = readAll(dir.filePath(logFileName));
        QVERIFY(next.startsWith(log));
        QVERIFY2(next.mid(log.size()).startsWith("==== Trimlet (process "), next.mid(log.size()).constData());
    }

    void testRunLogMissingDirectoryIsNoFailure()
    {
        RunRequest request;
        request.recording = QStringLiteral("/nonexistent/dir/show.mpg");
        request.tools.ffprobe = standInTools() + QStringLiteral("/ffprobe");
        RunPipeline run(request);
        QSignalSpy finished(&run, &RunPipeline::finished);
        run.start();
        QVERIFY(!run.logFileOpen());
        QTRY_COMPARE(finished.count(), 1);
        QVERIFY(!run.failed());
    }
};

QTEST_MAIN(TestToolContract)
#include "tst_toolcontract.moc"

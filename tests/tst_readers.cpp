// The readers of the detector's result files: frame list, EDL, per-frame
// table, and the controller operations around them.

#include "TestSupport.h"

#include "chart/VideoGraph.h"
#include "core/ResultParsers.h"
#include "ui_GraphWindow.h"

#include <QLabel>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <cstdio>
#include <limits>

namespace {

QByteArray frameList(const QByteArray &body, int frames = 108000)
{
    return "FILE PROCESSING COMPLETE  " + QByteArray::number(frames)
           + " FRAMES AT  2997\n-------------------\n" + body;
}

// Folds a table held in memory, as the reader folds a file.
struct Folded
{
    results::CsvFold fold;
    std::vector<int> matrix;
    int ranges[40] = {};
};
Folded fold(const QByteArray &csv, int totalRows)
{
    Folded f;
    const results::Sampling s = results::samplingFor(totalRows);
    f.matrix.assign(size_t(qMax(1, s.pointCount)) * 20, 0);
    QByteArray copy = csv;
    FILE *file = fmemopen(copy.data(), size_t(copy.size()), "r");
    if (copy.isEmpty())
        file = std::fopen("/dev/null", "r");
    f.fold = results::foldCsv(file, f.matrix.data(), s.pointCount, f.ranges, s.chunkSize, totalRows);
    std::fclose(file);
    return f;
}

QByteArray rows(int count, int columns = 2, int first = 1)
{
    QByteArray out;
    for (int i = 0; i < count; ++i) {
        out += QByteArray::number(first + i);
        for (int c = 1; c < columns; ++c)
            out += ',' + QByteArray::number((first + i) * 10);
        out += '\n';
    }
    return out;
}

} // namespace

class TestReaders final : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    void use(AppController &c, const QString &base = QStringLiteral("show"))
    {
        c.setRecording(m_dir.filePath(base + QStringLiteral(".mpg")));
        for (const char *ext : {".txt", ".edl", ".csv"})
            QFile::remove(m_dir.filePath(base + QLatin1String(ext)));
    }
    QString file(const char *ext, const QString &base = QStringLiteral("show"))
    {
        return m_dir.filePath(base + QLatin1String(ext));
    }

private slots:
    // ---- frame list
    void testFrameListWorkedExample()
    {
        const results::FrameList f = results::parseFrameList(
            "FILE PROCESSING COMPLETE  108000 FRAMES AT  2997\n-------------------\n100\t399\n"
            "5000 5028\n1000\t1299\n");
        QVERIFY(f.found);
        QCOMPARE(f.totalRows, 108000);
        QCOMPARE(f.fps, 29.97f);
        QCOMPARE(f.commercials, (CommercialList{{100, 399, 300, 100}, {1000, 1299, 300, 701}}));
        QCOMPARE(results::samplingFor(108000).chunkSize, 72.0f);
    }

    void testSampling_data()
    {
        QTest::addColumn<int>("frames");
        QTest::addColumn<int>("points");
        QTest::addColumn<float>("chunk");
        QTest::newRow("0") << 0 << 0 << 1.0f;
        QTest::newRow("1499") << 1499 << 1499 << 1.0f;
        QTest::newRow("1500") << 1500 << 1500 << 1.0f;
        QTest::newRow("3000") << 3000 << 1500 << 2.0f;
        QTest::newRow("4000") << 4000 << 1500 << 2.6666667f;
    }
    void testSampling()
    {
        QFETCH(int, frames);
        QFETCH(int, points);
        QFETCH(float, chunk);
        const results::Sampling s = results::samplingFor(frames);
        QCOMPARE(s.pointCount, points);
        QCOMPARE(s.chunkSize, chunk);
    }

    void testFrameListLines_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<CommercialList>("expected");
        QTest::newRow("30 frames kept") << frameList("100\t129\n") << CommercialList{{100, 129, 30, 100}};
        QTest::newRow("29 frames dropped") << frameList("100\t128\n") << CommercialList{};
        QTest::newRow("end before start") << frameList("500\t100\n") << CommercialList{};
        QTest::newRow("CR-LF") << QByteArray(
            "FILE PROCESSING COMPLETE  108000 FRAMES AT  2997\r\n----\r\n100\t399\r\n1000\t1299\r\n")
                               << CommercialList{{100, 399, 300, 100}, {1000, 1299, 300, 701}};
        QTest::newRow("tab then words")
            << frameList("100\t399 words\n") << CommercialList{{100, 399, 300, 100}};
        QTest::newRow("comma skipped") << frameList("100,399\n") << CommercialList{};
        QTest::newRow("signs") << frameList("+100 +399\n") << CommercialList{{100, 399, 300, 100}};
        QTest::newRow("lines 1 and 2 never")
            << QByteArray("FILE PROCESSING COMPLETE  100 200\n300 400\n") << CommercialList{};
        QTest::newRow("skipped line leaves break running values")
            << frameList("100 399\ntext\n400 410\n1000 1299\n")
            << CommercialList{{100, 399, 300, 100}, {1000, 1299, 300, 701}};
        QTest::newRow("tiny end-of-file commercial dropped")
            << frameList("4512\t6339\n10868\t10869\n", 10869) << CommercialList{{4512, 6339, 1828, 4512}};
    }
    void testFrameListLines()
    {
        QFETCH(QByteArray, text);
        QFETCH(CommercialList, expected);
        const results::FrameList f = results::parseFrameList(text);
        QVERIFY(f.found);
        QCOMPARE(f.commercials, expected);
    }

    void testFrameListHeaderNumbers()
    {
        QCOMPARE(results::parseFrameList("FILE PROCESSING COMPLETE  only 500").fps, 0.0f);
        QCOMPARE(results::parseFrameList("FILE PROCESSING COMPLETE  only 500").totalRows, 500);
        QCOMPARE(results::parseFrameList("FILE PROCESSING COMPLETE  none").totalRows, 0);
        QCOMPARE(results::parseFrameList("FILE PROCESSING COMPLETE 99999999999 1").totalRows,
                 std::numeric_limits<int>::max());
        QVERIFY(!results::parseFrameList("PROCESSING 100 2997").found);
        QVERIFY(!results::parseFrameList("FILE PROCESSING COMPLETE  100 FRAMES \xC3\xA9").found);
        // Huge frame numbers never overflow the running break position.
        const results::FrameList f =
            results::parseFrameList(frameList("-2147483648 2147483647\n-2147483648 2147483647\n"));
        QCOMPARE(f.commercials.size(), 2);
        QCOMPARE(f.commercials.at(1).brk, std::numeric_limits<int>::min());
    }

    void testReadTXTDataFieldsAndFlags()
    {
        Harness h;
        AppController &c = h.controller;
        use(c);
        writeFile(file(".txt"), frameList("100\t399\n1000\t1299\n", 4000));
        QSignalSpy results(&c, &AppController::haveResultsChanged);
        // Without a table there are no results to chart.
        QCOMPARE(c.readTXTData(), 0);
        QCOMPARE(c.totalRows(), 4000);
        QCOMPARE(c.fps(), 29.97f);
        QCOMPARE(c.pointCount(), 1500);
        QCOMPARE(c.chunkSize(), 2.6666667f);
        QCOMPARE(c.commercials()->size(), 2);
        QVERIFY(!c.haveResults() && !c.haveCommercials());
        writeFile(file(".csv"), "");
        QCOMPARE(c.readTXTData(), 0);
        QVERIFY(!c.haveResults());
        writeFile(file(".csv"), "frame,a,\n1,2\n");
        QCOMPARE(c.readTXTData(), 0);
        QVERIFY(c.haveResults() && c.haveCommercials());
        QCOMPARE(results.count(), 1);
        // The file goes: old entries stay, but nothing is claimed.
        const SharedCommercials list = c.commercials();
        QFile::remove(file(".txt"));
        QCOMPARE(c.readTXTData(), 1);
        QCOMPARE(c.commercials(), list);
        QCOMPARE(c.commercials()->size(), 2);
        QCOMPARE(c.pointCount(), 0);
        QCOMPARE(c.chunkSize(), 1.0f);
        QVERIFY(!c.haveResults() && !c.haveCommercials());
        QCOMPARE(h.ui().mStatusField->text(), QStringLiteral("Commercials not yet detected."));
        // A marker but no frame count: lines read, result 1.
        writeFile(file(".txt"), "FILE PROCESSING COMPLETE \n--\n");
        QCOMPARE(c.readTXTData(), 1);
        QVERIFY(c.commercials()->isEmpty());
    }

    // ---- EDL
    void testEDLCounting_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("status");
        QTest::newRow("empty") << QByteArray() << 0 << QStringLiteral("Found 0 commercials.");
        QTest::newRow("one") << QByteArray("150.52\t211.48\t0\n") << 1
                             << QStringLiteral("Found 1 commercial.");
        QTest::newRow("three") << QByteArray("1 2 0\n3 4 0\n5 6 0\n") << 3
                               << QStringLiteral("Found 3 commercials.");
        // The last row counts without its line feed; a blank line is no break.
        QTest::newRow("no final line feed")
            << QByteArray("1 2 0\n3 4 0\n5 6 0") << 3 << QStringLiteral("Found 3 commercials.");
        QTest::newRow("blank line") << QByteArray("1 2 0\n\n") << 1 << QStringLiteral("Found 1 commercial.");
        // A list that cannot be read is no list, not one of no breaks.
        QTest::newRow("garbage") << QByteArray("garbage here\n") << -1
                                 << QStringLiteral("Commercials not yet detected.");
        QTest::newRow("garbage after a break")
            << QByteArray("1 2 0\ngarbage here") << -1 << QStringLiteral("Commercials not yet detected.");
        QTest::newRow("CR-LF") << QByteArray("1 2 0\r\n3 4 0\r\n") << 2
                               << QStringLiteral("Found 2 commercials.");
    }
    void testEDLCounting()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, count);
        QFETCH(QString, status);
        Harness h;
        AppController &c = h.controller;
        use(c);
        writeFile(file(".edl"), text);
        QCOMPARE(c.readEDLData(), count < 0 ? 1 : 0);
        QCOMPARE(c.commercialsFound(), qMax(count, 0));
        QCOMPARE(h.ui().mStatusField->text(), status);
        QCOMPARE(c.haveCommercials(), count > 0);
        QVERIFY(!c.haveResults());
    }

    // What comskip leaves when a full disk or a kill cut its frame list
    // short is no frame list.
    void testFrameListComplete_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("complete");
        QTest::newRow("whole") << frameList("4512\t6339\n") << true;
        QTest::newRow("no break") << frameList("") << true;
        QTest::newRow("CR-LF") << QByteArray("FILE PROCESSING COMPLETE  10 FRAMES AT  2997\r\n---\r\n")
                               << true;
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("header only") << QByteArray("FILE PROCESSING COMPLETE  10869 FRAMES AT  2997\n")
                                     << false;
        QTest::newRow("last row cut short") << frameList("4512\t63") << false;
    }
    void testFrameListComplete()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, complete);
        QCOMPARE(results::frameListComplete(text), complete);
    }

    void testEDLMissingClearsCount()
    {
        Harness h;
        AppController &c = h.controller;
        use(c);
        writeFile(file(".edl"), "1 2 0\n3 4 0\n");
        writeFile(file(".csv"), "x");
        QCOMPARE(c.readEDLData(), 0);
        QVERIFY(c.haveResults() && c.haveCommercials());
        QFile::remove(file(".edl"));
        QCOMPARE(c.readEDLData(), 1);
        // A count with no list on disk would let removal run without one.
        QCOMPARE(c.commercialsFound(), 0);
        QVERIFY(!c.haveResults() && !c.haveCommercials());
        QCOMPARE(h.ui().mStatusField->text(), QStringLiteral("Commercials not yet detected."));
    }

    // ---- per-frame table
    void testHeaderAndRowScanning()
    {
        QCOMPARE(results::parseCsvHeader("A,B,C,\n"), (QStringList{"A", "B", "C"}));
        QCOMPARE(results::parseCsvHeader("A,B,C\n"), (QStringList{"A", "B"}));
        QCOMPARE(results::parseCsvHeader("frame, MinX,PTS,29.970030\n"),
                 (QStringList{"frame", " MinX", "PTS"}));
        int v[20];
        QCOMPARE(results::scanCsvRow("1, \t2 ,\t-3\n", v), 3);
        QCOMPARE(v[2], -3);
        QCOMPARE(results::scanCsvRow("1;2;3\n", v), 1);
        QCOMPARE(results::scanCsvRow("1,118,0,1.510000,7\n", v), 4);
        QCOMPARE(v[3], 1);
        QCOMPARE(results::scanCsvRow("99999999999,-99999999999\n", v), 2);
        QCOMPARE(v[0], std::numeric_limits<int>::max());
        QCOMPARE(v[1], std::numeric_limits<int>::min());
        QCOMPARE(results::scanCsvRow(QByteArray("1,").repeated(25).constData(), v), 20);
        QCOMPARE(results::scanCsvRow("+,5\n", v), 0);
    }

    void testFoldChunkSizes_data()
    {
        QTest::addColumn<int>("frames");
        QTest::addColumn<QList<int>>("firstSizes");
        QTest::newRow("1.0") << 10 << QList<int>{1, 1, 1, 1};
        QTest::newRow("2.5") << 3750 << QList<int>{3, 2, 3, 2, 3, 2};
        QTest::newRow("2.6666667") << 4000 << QList<int>{3, 2, 3, 3, 2, 3};
    }
    void testFoldChunkSizes()
    {
        QFETCH(int, frames);
        QFETCH(QList<int>, firstSizes);
        // Column 1 holds the row number, so a point's value tells its rows.
        const Folded f = fold("frame,n,\n" + rows(frames), frames);
        QCOMPARE(f.fold.pointsStored, qMin(frames, 1500));
        QCOMPARE(f.fold.rowCount, frames);
        int firstRow = 1;
        for (int p = 0; p < firstSizes.size(); ++p) {
            const int size = firstSizes.at(p);
            // The average of rows firstRow .. firstRow+size-1 is their middle.
            QCOMPARE(f.matrix[size_t(p) * 20], (2 * firstRow + size - 1) / 2);
            firstRow += size;
        }
        // The last point runs to the frame count.
        QCOMPARE(f.matrix[size_t(f.fold.pointsStored - 1) * 20 + 1] / 10 <= frames, true);
        QCOMPARE(f.ranges[1], f.matrix[size_t(f.fold.pointsStored - 1) * 20 + 0]);
    }

    void testFoldValues()
    {
        // Averages truncate toward zero; ranges start at [0, 0].
        Folded f = fold("h,a,b,\n1,-1,5\n2,-2,9\n", 1);
        QCOMPARE(f.fold.pointsStored, 1);
        QCOMPARE(f.fold.labels, (QStringList{"h", "a", "b"}));
        // Frame count 1: one point of every row (the surplus folds in).
        QCOMPARE(f.matrix[0], 1);
        QCOMPARE(f.matrix[1], -1);
        QCOMPARE(f.matrix[2], 7);
        QCOMPARE(f.ranges[2], -1);
        QCOMPARE(f.ranges[3], 0);
        QCOMPARE(f.ranges[4], 0);
        QCOMPARE(f.ranges[5], 7);
    }

    void testFoldLineEnds()
    {
        // The last line without a line end is not used.
        Folded f = fold("h,a,\n1,1\n2,2\n3,3", 3);
        QCOMPARE(f.fold.rowCount, 2);
        QCOMPARE(f.fold.pointsStored, 2);
        // A line of 199 characters or more counts as two rows.
        QByteArray longRow = "5," + QByteArray(197, '1') + "\n";
        f = fold("h,a,\n" + longRow, 10);
        QCOMPARE(f.fold.rowCount, 2);
        // Header only, and 0 bytes.
        f = fold("frame,brightness,\n", 10);
        QVERIFY(f.fold.headerRead);
        QCOMPARE(f.fold.pointsStored, 0);
        f = fold("", 10);
        QVERIFY(!f.fold.headerRead);
        QCOMPARE(f.fold.pointsStored, 0);
    }

    void testLineReaderReadsAsFgetsDoes_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("one line") << QByteArray("a,b\n");
        QTest::newRow("last line without newline") << QByteArray("a\nb");
        QTest::newRow("only newlines") << QByteArray("\n\n\n");
        QTest::newRow("199 bytes then end") << QByteArray(199, 'x');
        QTest::newRow("200 bytes then end") << QByteArray(200, 'x');
        QTest::newRow("199 bytes and newline") << QByteArray(199, 'x') + '\n';
        QTest::newRow("long line") << QByteArray(1000, '7') + "\n1,2\n";
        QTest::newRow("NUL inside") << QByteArray("1,2\0,3\n4\n", 9);
        QByteArray big;
        for (int i = 0; i < 60000; ++i)
            big += QByteArray::number(i) + ",1,2,3\n";
        QTest::newRow("several blocks") << big + QByteArray(300, 'y');
    }
    void testLineReaderReadsAsFgetsDoes()
    {
        QFETCH(QByteArray, text);
        QByteArray copy = text;
        FILE *a =
            text.isEmpty() ? std::fopen("/dev/null", "rb") : fmemopen(text.data(), size_t(text.size()), "rb");
        FILE *b =
            copy.isEmpty() ? std::fopen("/dev/null", "rb") : fmemopen(copy.data(), size_t(copy.size()), "rb");
        QVERIFY(a && b);
        results::CsvLineReader reader(b);
        char expected[results::kCsvLineBuffer];
        int lines = 0;
        while (true) {
            const bool more = std::fgets(expected, sizeof expected, a) && !std::feof(a);
            const char *got = reader.next();
            QCOMPARE(got != nullptr, more);
            if (!more)
                break;
            QCOMPARE(QByteArray(got), QByteArray(expected));
            ++lines;
        }
        std::fclose(a);
        std::fclose(b);
        QVERIFY(lines >= text.count('\n') - 1);
    }

    void testFoldSurplusRowsStayInTheMatrix()
    {
        // 3000 rows for a frame count of 1500: never more than 1500 points.
        Folded f = fold("h,a,\n" + rows(3000), 1500);
        QCOMPARE(f.fold.pointsStored, 1500);
        QCOMPARE(f.matrix.size(), size_t(1500 * 20));
        // The last point holds rows 1500..3000.
        QCOMPARE(f.matrix[size_t(1499) * 20], (1500 + 3000) / 2);
    }

    void testFoldSeparatorHintAndWideRows()
    {
        Folded f = fold("sep=,\nframe,a,b,\n" + rows(4, 25), 4);
        QCOMPARE(f.fold.labels, (QStringList{"frame", "a", "b"}));
        QCOMPARE(f.fold.valuesInLastRow, 20);
        QCOMPARE(f.fold.pointsStored, 4);
        QCOMPARE(f.matrix[3 * 20 + 19], 40);
        // Values near the limits sum without overflow.
        f = fold("h,a,\n2147483647,2147483647\n2147483647,2147483647\n", 1);
        QCOMPARE(f.matrix[0], 2147483647);
    }

    void testReadCSVDataAndClear()
    {
        Harness h;
        AppController &c = h.controller;
        use(c, QStringLiteral("Café show"));
        writeFile(file(".txt", QStringLiteral("Café show")), frameList("", 10));
        QCOMPARE(c.readTXTData(), 0);
        writeFile(file(".csv", QStringLiteral("Café show")), "sep=,\nframe,v,PTS,29.97\n" + rows(10));
        QCOMPARE(c.readCSVData(), 0);
        QCOMPARE(c.pointCount(), 10);
        QCOMPARE(c.labels(), (QStringList{"frame", "v", "PTS"}));
        QVERIFY(c.aiVideoData());
        QCOMPARE(c.aiVideoData()[9 * 20 + 1], 100);
        QCOMPARE(c.chunkSize(), 1.0f);
        QCOMPARE(c.aiValueRange()[2], 0);
        QCOMPARE(c.aiValueRange()[3], 100);

        // A missing table keeps the chart data in place.
        QFile::remove(file(".csv", QStringLiteral("Café show")));
        QCOMPARE(c.readCSVData(), 1);
        QVERIFY(c.aiVideoData());
        QCOMPARE(h.ui().mStatusField->text(), QStringLiteral("Commercials not yet detected."));

        // An empty table keeps the labels; pointCount 0 on entry clears.
        writeFile(file(".csv", QStringLiteral("Café show")), "");
        QCOMPARE(c.readCSVData(), 0);
        QCOMPARE(c.labels(), (QStringList{"frame", "v", "PTS"}));
        QCOMPARE(c.pointCount(), 0);
        QCOMPARE(c.readCSVData(), 1);
        QCOMPARE(h.ui().mStatusField->text(), QStringLiteral("No data found."));
        QVERIFY(!c.aiVideoData());
        // With no matrix, clearing leaves the view alone.
        h.windows.graph()->setDataFile(QStringLiteral("kept"));
        c.clearGraphData();
        QCOMPARE(h.windows.graphUi().mGraphFileText->text(), QStringLiteral("kept"));
    }

    void testRealDetectorFiles()
    {
        // What Debian's comskip 0.82 wrote for a recording made with ffmpeg
        // (show 150 s, gap, ad 60 s, gap, show 150 s); the table is cut to
        // its first 300 rows.
        Harness h;
        AppController &c = h.controller;
        c.setRecording(QStringLiteral(TRIMLET_TEST_DATA "/real/one.mpg"));
        QCOMPARE(c.loadData(), 0);
        QCOMPARE(c.totalRows(), 10848);
        QCOMPARE(c.fps(), 29.97f);
        QCOMPARE(c.commercialsFound(), 1);
        QCOMPARE(*c.commercials(), (CommercialList{{4512, 6339, 1828, 4512}}));
        QCOMPARE(c.labels().mid(0, 6),
                 (QStringList{"frame", "brightness", "scene_change", "logo", "uniform", "sound"}));
        QVERIFY(c.labels().contains(QStringLiteral(" MinX")));
        // 300 rows at 7.232 rows a point: the last point closes at the end.
        QCOMPARE(c.pointCount(), 42);
        QVERIFY(c.aiValueRange()[2 * 1 + 1] > 0);
        QCOMPARE(h.ui().mStatusField->text(), QStringLiteral("Found 1 commercial."));
    }
};

QTEST_MAIN(TestReaders)
#include "tst_readers.moc"

// Progress rows: the bar, the percent field and the time estimate.

#include "core/ResultParsers.h"
#include "progress/ProgressIndicator.h"

#include <QFile>

#include <QLabel>
#include <QProgressBar>
#include <QTest>

#include <cmath>
#include <limits>

class TestProgress final : public QObject
{
    Q_OBJECT

    struct Row
    {
        QProgressBar bar;
        QLabel percent;
        QLabel remaining;
        double now = 1000.0;
        ProgressIndicator indicator{&bar, &percent, &remaining, [this] { return now; }};
        Row() { bar.setRange(0, 100); }
    };

private slots:
    void testSecondPassOfRealComskipOutput()
    {
        // comskip 0.82 on a recording with a station logo: it reads the file
        // a second time once it has found the logo (18 36 16 39 59 80 %).
        QFile f(QStringLiteral(TRIMLET_TEST_DATA "/comskip-two-passes.txt"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QList<int> percents;
        for (const QByteArray &chunk : f.readAll().split('\r')) {
            const results::ProgressScan scan = results::scanProgressChunk(QString::fromUtf8(chunk));
            if (scan.isProgress && scan.percent)
                percents << *scan.percent;
        }
        QCOMPARE(percents, (QList<int>{18, 36, 16, 39, 59, 80}));
        Row r;
        r.indicator.start();
        QStringList remaining;
        for (int p : percents) {
            r.now += 10;
            r.indicator.setPercent(p);
            remaining << r.remaining.text();
        }
        QCOMPARE(r.indicator.pass(), 2);
        // First pass: 10 s a step of 18 %. At the drop the estimate starts
        // over: nothing is told until the new pass has a rate of its own.
        QCOMPARE(remaining.at(0), QStringLiteral("00:45 remaining"));
        QCOMPARE(remaining.at(2), QStringLiteral("pass 2"));
        // 23 % in 10 s from 16 %: 61 % to go takes 26 s (not the 41 s the
        // first pass's rate from 0 % would give).
        QCOMPARE(remaining.at(3), QStringLiteral("00:26 remaining (pass 2)"));
        QCOMPARE(remaining.at(5), QStringLiteral("00:09 remaining (pass 2)"));
        QCOMPARE(r.bar.value(), 80);
        // A fresh start is a first pass again.
        r.indicator.start();
        QCOMPARE(r.indicator.pass(), 1);
    }

    void testFailedStepDoesNotFillTheBar()
    {
        Row r;
        r.indicator.start();
        r.now += 6;
        r.indicator.setPercent(40);
        r.indicator.fail();
        QCOMPARE(r.bar.value(), 40);
        QVERIFY(!r.indicator.isBusy());
        QCOMPARE(r.remaining.text(), QStringLiteral("failed after 00:06"));
        QCOMPARE(r.percent.text(), QString());
        // A tool that failed before any progress leaves an empty bar.
        Row empty;
        empty.indicator.start();
        empty.now += 2;
        empty.indicator.fail();
        QCOMPARE(empty.bar.value(), 0);
        QVERIFY(!empty.indicator.isBusy());
        QCOMPARE(empty.remaining.text(), QStringLiteral("failed after 00:02"));
    }

    void testEstimateAfterThirtySecondsAtQuarter()
    {
        Row r;
        r.indicator.start();
        QVERIFY(r.indicator.isBusy());
        r.now += 30;
        r.indicator.setPercent(25);
        QVERIFY(!r.indicator.isBusy());
        QCOMPARE(r.bar.value(), 25);
        QCOMPARE(r.bar.maximum(), 100);
        QCOMPARE(*r.indicator.percentValue(), 0.25f);
        QCOMPARE(r.percent.text(), QStringLiteral("25%"));
        QCOMPARE(r.remaining.text(), QStringLiteral("01:30 remaining"));
    }

    void testEstimateThreshold()
    {
        Row r;
        r.remaining.setText(QStringLiteral("before"));
        r.indicator.start();
        r.now += 5.9; // five whole seconds: not yet
        r.indicator.setPercent(50);
        QCOMPARE(r.remaining.text(), QStringLiteral("before"));
        r.now += 0.2;
        r.indicator.setPercent(50);
        QCOMPARE(r.remaining.text(), QStringLiteral("00:06 remaining"));
        // 100 % and beyond leave the last estimate standing.
        r.now += 20;
        r.indicator.setPercent(100);
        QCOMPARE(r.remaining.text(), QStringLiteral("00:06 remaining"));
        r.indicator.setPercent(150);
        QCOMPARE(r.remaining.text(), QStringLiteral("00:06 remaining"));
        QCOMPARE(*r.indicator.percentValue(), 1.5f);
    }

    void testZeroPercentRestartsEstimate()
    {
        Row r;
        r.indicator.start();
        r.now += 60;
        r.indicator.setPercent(50);
        QCOMPARE(r.remaining.text(), QStringLiteral("01:00 remaining"));
        r.indicator.setPercent(0);
        QVERIFY(r.indicator.isBusy());
        QVERIFY(!r.indicator.percentValue());
        QCOMPARE(r.percent.text(), QString());
        QCOMPARE(r.remaining.text(), QStringLiteral("01:00 remaining"));
        // The estimate counts from the zero, not from the start.
        r.now += 10;
        r.indicator.setPercent(10);
        QCOMPARE(r.remaining.text(), QStringLiteral("01:30 remaining"));
        r.indicator.setPercent(std::numeric_limits<double>::quiet_NaN());
        QVERIFY(r.indicator.isBusy());
    }

    void testStopShowsElapsedWithFullBar()
    {
        Row r;
        r.indicator.start();
        r.now += 20;
        r.indicator.setPercent(40);
        r.now += 41.9;
        r.indicator.stop();
        QCOMPARE(r.remaining.text(), QStringLiteral("01:01 elapsed"));
        QVERIFY(!r.indicator.isBusy());
        QCOMPARE(r.bar.value(), 100);
        QCOMPARE(r.percent.text(), QString());
    }

    void testStopWithoutStartAndClear()
    {
        Row r;
        r.indicator.stop();
        QCOMPARE(r.remaining.text(), QStringLiteral("00:00 elapsed"));
        r.indicator.start();
        r.now += 100;
        r.indicator.clear();
        QCOMPARE(r.bar.value(), 0);
        QVERIFY(!r.indicator.isBusy());
        QCOMPARE(r.percent.text(), QString());
        QCOMPARE(r.remaining.text(), QString());
        r.now += 100;
        r.indicator.stop();
        QCOMPARE(r.remaining.text(), QStringLiteral("00:00 elapsed"));
    }

    void testBusyModeKeepsTheBarsOwnRange()
    {
        QProgressBar bar;
        bar.setRange(0, 1000);
        double now = 0;
        ProgressIndicator indicator(&bar, nullptr, nullptr, [&] { return now; });
        indicator.start();
        QCOMPARE(bar.maximum(), 0);
        indicator.setPercent(500);
        QCOMPARE(bar.maximum(), 1000);
        QCOMPARE(bar.value(), 500);
        indicator.stop();
        QCOMPARE(bar.value(), 1000);
    }

    void testAbsentWidgetsAreSkipped()
    {
        ProgressIndicator indicator(nullptr, nullptr, nullptr);
        indicator.start();
        indicator.setPercent(30);
        indicator.stop();
        indicator.clear();
        QVERIFY(!indicator.percentValue());
    }

    void testFormatTime_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("0") << 0.0 << QStringLiteral("00:00");
        QTest::newRow("59.9") << 59.9 << QStringLiteral("00:59");
        QTest::newRow("90") << 90.0 << QStringLiteral("01:30");
        QTest::newRow("3599") << 3599.0 << QStringLiteral("59:59");
        QTest::newRow("3600") << 3600.0 << QStringLiteral("1:00:00");
        QTest::newRow("3601") << 3601.0 << QStringLiteral("1:00:01");
        QTest::newRow("3725") << 3725.0 << QStringLiteral("1:02:05");
        QTest::newRow("100 h") << 360000.0 << QStringLiteral("100:00:00");
        QTest::newRow("NaN") << std::numeric_limits<double>::quiet_NaN() << QStringLiteral("00:00");
        QTest::newRow("negative") << -5.0 << QStringLiteral("00:00");
    }
    void testFormatTime()
    {
        QFETCH(double, seconds);
        QFETCH(QString, text);
        QCOMPARE(ProgressIndicator::formatTime(seconds), text);
    }

    void testFormatTimeHugeStaysSane()
    {
        const QString inf = ProgressIndicator::formatTime(std::numeric_limits<double>::infinity());
        const QString big = ProgressIndicator::formatTime(1e300);
        QCOMPARE(inf, big);
        QCOMPARE(inf, QStringLiteral("277777777:46:40"));
    }
};

QTEST_MAIN(TestProgress)
#include "tst_progress.moc"

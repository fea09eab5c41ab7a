// The chart view on its own: its data model, path building, drawing and
// zoom. The graph window around it is tested with the application.

#include "chart/VideoGraph.h"
#include "core/PropertyList.h"
#include "core/ResultParsers.h"

#include <QImage>
#include <QLabel>
#include <QSet>
#include <QTest>

#include <cmath>
#include <limits>
#include <numeric>

namespace {

QList<QPointF> points(const QPainterPath &path)
{
    QList<QPointF> out;
    for (int i = 0; i < path.elementCount(); ++i)
        out << QPointF(path.elementAt(i).x, path.elementAt(i).y);
    return out;
}

// The columns shown, top band first.
QList<int> shown(const VideoGraph &g)
{
    return QList<int>(g.columnOrder().begin(), g.columnOrder().begin() + g.colCountToShow());
}

// The colours in a rectangle of an image.
QSet<QRgb> colours(const QImage &img, const QRect &r)
{
    QSet<QRgb> out;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            out.insert(img.pixel(x, y));
    return out;
}

struct Data
{
    std::vector<int> matrix;
    int ranges[40] = {};
    void column(int col, const QList<int> &values)
    {
        if (matrix.size() < size_t(values.size()) * 20)
            matrix.resize(size_t(values.size()) * 20, 0);
        for (int r = 0; r < values.size(); ++r) {
            matrix[size_t(r) * 20 + col] = values[r];
            ranges[2 * col] = qMin(ranges[2 * col], values[r]);
            ranges[2 * col + 1] = qMax(ranges[2 * col + 1], values[r]);
        }
    }
};

} // namespace

class TestChart final : public QObject
{
    Q_OBJECT

private slots:
    void testCreationBounds()
    {
        // 1500 units wide, and as tall as keeps a unit as wide as it is
        // high on the widget; a frame without width gets 2:1.
        for (const QSizeF &frame : {QSizeF(600, 300), QSizeF(640, 480)}) {
            const VideoGraph g(frame);
            QCOMPARE(g.bounds().width(), 1500.0);
            const QTransform t = g.logicalTransform(g.size());
            QVERIFY2(qFuzzyCompare(t.m11(), -t.m22()), qPrintable(QString::number(g.bounds().height())));
        }
        QCOMPARE(VideoGraph(QSizeF(0, 300)).bounds().height(), 750.0);
        VideoGraph g(QSizeF(600, 300));
        QCOMPARE(g.bounds(), QRectF(0, 0, 1500, 750));
        QCOMPARE(g.labelFont().family(), QStringLiteral("Helvetica"));
        QCOMPARE(g.labelFont().pixelSize(), 30);
    }

    void testColumnOrder()
    {
        VideoGraph g(QSizeF(600, 300));
        // A label the data lacks takes no band.
        g.setLabelsInOrder({"D", "X", "B"});
        g.setDataFrames(10, 1.0f, 30.0f, {"A", "B", "C", "D"}, nullptr);
        QCOMPARE(g.colCount(), 3);
        QCOMPARE(shown(g), (QList<int>{3, 1}));

        g.setLabelsInOrder({"B", "A", "B"});
        g.setDataFrames(10, 1.0f, 30.0f, {"A", "B", "B"}, nullptr);
        QCOMPARE(shown(g), (QList<int>{1, 0, 1}));

        g.setDataFrames(10, 1.0f, 30.0f, {"B"}, nullptr);
        QCOMPARE(g.colCount(), 0);
        g.setDataFrames(0, 0, 0, {}, nullptr);
        QCOMPARE(g.colCount(), 0);
        QCOMPARE(g.colCountToShow(), 0);

        // Columns at index 20 or more, and a 21st position, are left out.
        QStringList many;
        for (int i = 0; i < 25; ++i)
            many << QStringLiteral("c%1").arg(i);
        g.setLabelsInOrder(QStringList{"c22"} + many);
        g.setDataFrames(10, 1.0f, 30.0f, many, nullptr);
        QList<int> first20(20);
        std::iota(first20.begin(), first20.end(), 0);
        QCOMPARE(shown(g), first20);
    }

    void testLabelOrderResourceMatchesTheDetector()
    {
        // The order the application ships with.
        VideoGraph g(QSizeF(600, 300));
        g.setLabelsInOrder(
            readPropertyList(QStringLiteral(TRIMLET_RESOURCES "/settings/labelOrder.plist")).toStringList());
        const QStringList header = results::parseCsvHeader(
            "frame,brightness,scene_change,logo,uniform,sound,minY,MaxY,ar_ratio,goodEdge,isblack,cutscene, "
            "MinX, MaxX, hasBright, Dimcount,PTS,29.970030\n");
        g.setDataFrames(10, 1.0f, 30.0f, header, nullptr);
        QVERIFY(g.colCountToShow() >= 5);
        // Only columns the row scanner reads (integers before ar_ratio).
        for (int k = 0; k < g.colCountToShow(); ++k)
            QVERIFY(g.columnOrder()[size_t(k)] < header.indexOf(QStringLiteral("ar_ratio")));
        QCOMPARE(header.at(g.columnOrder()[0]), QStringLiteral("brightness"));
    }

    void testLookups()
    {
        VideoGraph g(QSizeF(600, 300));
        Data d;
        d.column(3, {4, 9});
        g.setData(d.matrix.data(), {2, 20}, d.ranges);
        QCOMPARE(g.rangePointfromRow(3, 1), 9);
        QCOMPARE(g.dataPointfromRow(1, 3), 9);
        QCOMPARE(dataPointFromData(d.matrix.data(), {2, 20}, 0, 3), 4);
        QCOMPARE(g.dataPointfromRow(2, 3), 0);
        QLabel name;
        QObject::connect(&g, &VideoGraph::dataFileChanged, &name, &QLabel::setText);
        g.setDataFile(QStringLiteral("/v/a.mpg"));
        QCOMPARE(name.text(), QStringLiteral("/v/a.mpg"));
        g.setDataFile(QString());
        QCOMPARE(name.text(), QString());
    }

    void testCurveWorkedExamples_data()
    {
        QTest::addColumn<QList<int>>("values");
        QTest::addColumn<QList<QPointF>>("path");
        QTest::addColumn<int>("count");
        QTest::newRow("0 5 5 10") << QList<int>{0, 5, 5, 10}
                                  << QList<QPointF>{{0, 0}, {10, 5}, {30, 5}, {30, 10}} << 4;
        QTest::newRow("0 5 5 5") << QList<int>{0, 5, 5, 5} << QList<QPointF>{{0, 0}, {10, 5}, {30, 5}} << 3;
    }
    void testCurveWorkedExamples()
    {
        QFETCH(QList<int>, values);
        QFETCH(QList<QPointF>, path);
        QFETCH(int, count);
        // The line from the corner to a first point at the corner has no
        // length, and the path leaves it out; the count of points added
        // still counts it.
        VideoGraph g(QSizeF(600, 300));
        Data d;
        d.column(0, values);
        d.ranges[1] = 10;
        g.setData(d.matrix.data(), {4, 20}, d.ranges);
        g.setDataFrames(4, 1.0f, 30.0f, {"v", "w"}, nullptr);
        g.buildChart(0, QRectF(0, 0, 40, 17.5));
        QCOMPARE(points(g.path(0)), path);
        QCOMPARE(g.lastPointsAdded(), qint64(count));
        QCOMPARE(g.lastRowsCovered(), qint64(4));
    }

    void testFlatAndNegativeColumns()
    {
        VideoGraph g(QSizeF(600, 300));
        Data d;
        d.column(0, {0, 0, 0});
        d.column(1, {-10, 0, 10});
        g.setData(d.matrix.data(), {3, 20}, d.ranges);
        g.setDataFrames(3, 1.0f, 30.0f, {"a", "b", "c"}, nullptr);
        g.buildChart(0, QRectF(0, 0, 30, 27.5));
        QVERIFY(g.path(0).isEmpty());
        // A negative minimum: the whole range fits inside the rectangle.
        g.buildChart(1, QRectF(0, 100, 30, 27.5));
        const QRectF box = g.path(1).boundingRect();
        QCOMPARE(box.top(), 100.0);
        QCOMPARE(box.bottom(), 120.0);
        // Out-of-range column indexes draw nothing and never crash.
        g.buildChart(20, QRectF(0, 0, 30, 30));
        g.buildChart(-1, QRectF(0, 0, 30, 30));
    }

    void testCommercialBarWorkedExample()
    {
        VideoGraph g(QSizeF(600, 300));
        QLabel oldLength, newLength;
        QObject::connect(&g, &VideoGraph::lengthsChanged, &g,
                         [&](const QString &before, const QString &after) {
                             oldLength.setText(before);
                             newLength.setText(after);
                         });
        auto list = std::make_shared<CommercialList>(CommercialList{{1200, 2999, 1800, 1200}});
        std::vector<int> m(1500 * 20, 0);
        int r[40] = {};
        g.setData(m.data(), {1500, 20}, r);
        g.setDataFrames(18000, 12.0f, 30.0f, {"a", "b"}, list);
        g.buildCommercialBarsInBounds(QRectF(240, 37.5, 1260, 500));
        QCOMPARE(g.commercialPaths().size(), 1);
        QVERIFY(g.keptPaths().isEmpty());
        // Frames 1200 to 2999 (chart points 100 to 249.9), the end frame's
        // own width included.
        const QRectF bar = g.commercialPaths().first().boundingRect();
        QCOMPARE(float(bar.x()), 324.0f);
        QVERIFY2(std::abs(bar.right() - 450.93) < 0.01, qPrintable(QString::number(bar.right())));
        QCOMPARE(bar.y(), 37.5);
        QCOMPARE(bar.height(), 500.0);
        QCOMPARE(oldLength.text(), QStringLiteral("0:10:00"));
        QCOMPARE(newLength.text(), QStringLiteral("0:09:00"));

        // A commercial past the last frame is cut at the right edge (+1).
        *list = {{17000, 40000, 23001, 17000}};
        g.commercialsChanged();
        g.buildCommercialBarsInBounds(QRectF(240, 37.5, 1260, 500));
        QCOMPARE(g.commercialPaths().first().boundingRect().right(), 1501.0);
        // Commercials covering everything leave the new length empty.
        *list = {{0, 17999, 18000, 0}};
        g.commercialsChanged();
        g.buildCommercialBarsInBounds(QRectF(240, 37.5, 1260, 500));
        QCOMPARE(newLength.text(), QString());
        // No rows or no chunk size: no bars, no crash.
        g.setData(nullptr, {0, 0}, nullptr);
        g.buildCommercialBarsInBounds(QRectF(240, 37.5, 1260, 500));
        QVERIFY(g.commercialPaths().isEmpty());
        g.setDataFrames(18000, 0.0f, 30.0f, {"a", "b"}, list);
        g.buildCommercialBarsInBounds(QRectF(240, 37.5, 1260, 500));
        QVERIFY(g.commercialPaths().isEmpty());
    }

    void testScaleTicks()
    {
        VideoGraph g(QSizeF(600, 300));
        g.setDataFrames(18000, 12.0f, 30.0f, {"a", "b"}, nullptr);
        g.buildScaleInBounds(QRectF(240, 0, 1260, 30));
        const QPainterPath &p = g.scalePath();
        QCOMPARE(p.elementCount(), 40);
        QList<QPair<double, double>> ticks;
        for (int i = 0; i < p.elementCount(); i += 2)
            ticks << qMakePair(p.elementAt(i).x, p.elementAt(i + 1).y);
        QCOMPARE(ticks.first(), qMakePair(240.0, 30.0));
        QCOMPARE(ticks.at(10), qMakePair(870.0, 30.0));
        QCOMPARE(ticks.at(2), qMakePair(366.0, 15.0));
        QCOMPARE(ticks.at(1), qMakePair(303.0, 7.5));
        QCOMPARE(ticks.last().second, 7.5);

        g.setDataFrames(600, 12.0f, 20.0f, {"a", "b"}, nullptr); // 30 s exactly
        g.buildScaleInBounds(QRectF(240, 0, 1260, 30));
        QCOMPARE(g.scalePath().elementCount(), 2);
        // A frame rate of 0, below 0, not a number, or too small to move on.
        for (float fps : {0.0f, -25.0f, std::numeric_limits<float>::quiet_NaN(), 1e-30f}) {
            g.setDataFrames(std::numeric_limits<int>::max(), 1.0f, fps, {"a", "b"}, nullptr);
            g.buildScaleInBounds(QRectF(240, 0, 1260, 30));
            QVERIFY(g.scalePath().elementCount() <= 2);
        }
    }

    void testLayout()
    {
        const VideoGraph::Layout l = VideoGraph::layoutFor(QRectF(0, 0, 1500, 750), 3);
        QCOMPARE(l.scaleBand, QRectF(240, 0, 1260, 30));
        QCOMPARE(l.chartArea, QRectF(240, 37.5, 1260, 712.5));
        QCOMPARE(l.labelColumn, QRectF(15, 37.5, 210, 712.5));
        QCOMPARE(l.bandHeight, 237.5f);
        QCOMPARE(l.bands[2].y(), 37.5);
        QCOMPARE(l.bands[1].y(), 275.0);
        QCOMPARE(l.bands[0].y(), 512.5);
        QCOMPARE(l.curveRects[2], QRectF(241, 45, 1258, 222.5));
        QCOMPARE(l.labelRects[0], QRectF(15, 512.5, 210, 237.5));
    }

    void testCurveHues()
    {
        // Each band's curve has a hue of its own, evenly spread round the
        // circle and back to red at the top.
        VideoGraph g(QSizeF(1500, 750));
        Data d;
        for (int c = 0; c < 5; ++c)
            d.column(c, {0, c + 1, 0});
        g.setData(d.matrix.data(), {3, 20}, d.ranges);
        g.setLabelsInOrder({"a", "b", "c", "d"});
        g.setDataFrames(3, 1.0f, 30.0f, {"a", "b", "c", "d", "e"}, nullptr);
        QImage img(1500, 750, QImage::Format_RGB32);
        img.fill(Qt::white);
        g.render(&img);
        const VideoGraph::Layout l = VideoGraph::layoutFor(g.bounds(), 4);
        const QList<int> expected{0, 270, 180, 90};
        for (int k = 0; k < 4; ++k) {
            // Only a curve is saturated: the rest is black, white or gray.
            QList<int> hues;
            for (const QColor c :
                 colours(img, g.logicalTransform(g.size()).mapRect(l.curveRects[k]).toRect()))
                if (c.hsvSaturation() > 200 && !hues.contains(c.hsvHue()))
                    hues << c.hsvHue();
            QVERIFY2(!hues.isEmpty(), qPrintable(QString::number(k)));
            for (int hue : std::as_const(hues))
                QVERIFY2(qMin(qAbs(hue - expected[k]), 360 - qAbs(hue - expected[k])) <= 2,
                         qPrintable(QStringLiteral("band %1: hue %2").arg(k).arg(hue)));
        }
    }

    void testZoom()
    {
        QWidget parent;
        VideoGraph g(QSizeF(800, 400), &parent);
        parent.show();
        QCOMPARE(g.bounds(), QRectF(0, 0, 1500, 750));
        g.setZoom(2.0f);
        QCOMPARE(g.size(), QSize(3000, 400));
        QCOMPARE(g.bounds(), QRectF(0, 0, 1500, 750));
        // A change of height keeps the logical space's scale.
        g.resize(3000, 800);
        QCOMPARE(g.bounds().height(), 1500.0);
        g.setZoom(std::numeric_limits<float>::quiet_NaN());
        QCOMPARE(g.width(), 3000);
    }

    void testRenderedPixels()
    {
        VideoGraph g(QSizeF(1500, 750));
        Data d;
        QList<int> ramp;
        for (int i = 0; i < 150; ++i)
            ramp << i;
        d.column(1, ramp);
        d.column(2, QList<int>(150, 3));
        auto list = std::make_shared<CommercialList>(CommercialList{{500, 899, 400, 500}});
        g.setData(d.matrix.data(), {150, 20}, d.ranges);
        g.setLabelsInOrder({"a", "b"});
        g.setDataFrames(1500, 10.0f, 25.0f, {"frame", "a", "b"}, list);
        QImage img(1500, 750, QImage::Format_RGB32);
        img.fill(Qt::blue);
        g.render(&img);
        const auto at = [&](double x, double y) { return QColor(img.pixel(int(x), int(750 - y))); };
        // Background, border.
        QCOMPARE(at(1200, 100), QColor(Qt::white));
        QCOMPARE(at(0.5, 300), QColor(Qt::black));
        // The bar: translucent gray over white, between frames 500 and 899.
        const QColor bar = at(240 + 1260 * 700.0 / 1500, 60);
        QVERIFY2(qAbs(bar.red() - 194) <= 3 && bar.red() == bar.blue(), qPrintable(bar.name()));
        QCOMPARE(at(240 + 1260 * 1000.0 / 1500, 60), QColor(Qt::white));
        // The top band's curve is red: find it in the column of point 20.
        const VideoGraph::Layout l = VideoGraph::layoutFor(g.bounds(), 2);
        const double x = l.curveRects[0].x() + l.curveRects[0].width() * 20 / 150.0;
        bool red = false;
        for (double y = l.curveRects[0].y(); y < l.curveRects[0].bottom(); y += 1.0) {
            const QColor c = at(x, y);
            red = red || (c.red() > 200 && c.green() < 60 && c.blue() < 60);
        }
        QVERIFY(red);
    }

    void testEmptyViewDrawsOnlyBackgroundAndBorder()
    {
        VideoGraph g(QSizeF(600, 300));
        // Frames, a break and a time scale, but no column to chart.
        std::vector<int> m(100 * 20, 0);
        int r[40] = {};
        g.setData(m.data(), {100, 20}, r);
        g.setDataFrames(18000, 180.0f, 30.0f, {},
                        std::make_shared<CommercialList>(CommercialList{{1200, 2999, 1800, 1200}}));
        QImage img(600, 300, QImage::Format_RGB32);
        img.fill(Qt::blue);
        g.render(&img);
        QVERIFY(QColor(img.pixel(0, 150)) != QColor(Qt::white));
        QCOMPARE(QColor(img.pixel(0, 150)).hsvSaturation(), 0);
        QCOMPARE(colours(img, img.rect().adjusted(2, 2, -2, -2)), QSet<QRgb>{qRgb(255, 255, 255)});
    }

    void testFormatTime_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<bool>("hours");
        QTest::addColumn<QString>("text");
        QTest::newRow("0 off") << 0.0 << false << QStringLiteral("00:00");
        QTest::newRow("0 on") << 0.0 << true << QStringLiteral("0:00:00");
        QTest::newRow("61") << 61.0 << false << QStringLiteral("01:01");
        QTest::newRow("90 off") << 90.0 << false << QStringLiteral("01:30");
        QTest::newRow("90 on") << 90.0 << true << QStringLiteral("0:01:30");
        QTest::newRow("599.9") << 599.9 << false << QStringLiteral("09:59");
        QTest::newRow("3725.5 off") << 3725.5 << false << QStringLiteral("1:02:05");
        QTest::newRow("3725.5 on") << 3725.5 << true << QStringLiteral("1:02:05");
        QTest::newRow("3601") << 3601.0 << false << QStringLiteral("1:00:01");
        QTest::newRow("36000") << 36000.0 << false << QStringLiteral("10:00:00");
    }
    void testFormatTime()
    {
        QFETCH(double, seconds);
        QFETCH(bool, hours);
        QFETCH(QString, text);
        QCOMPARE(VideoGraph::formatTime(seconds, hours), text);
        if (!hours)
            QCOMPARE(VideoGraph::formatTime(seconds), text);
    }
};

QTEST_MAIN(TestChart)
#include "tst_chart.moc"

// Drawing the chart, 1500 points x 20 columns with 10 commercials, into an
// offscreen image, 50 draws each, measured side by side in one run:
//   full     the paths built and painted (new data each time)
//   cached   a repaint from the paths already built
//   bare     QPainter alone drawing the same points as one polyline per
//            column with the same pens: the limit a repaint is held to.

#include "chart/VideoGraph.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QPolygonF>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

static void quiet(QtMsgType, const QMessageLogContext &, const QString &) { }

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    qInstallMessageHandler(quiet);

    const int rows = 1500, cols = 20;
    std::vector<int> matrix(size_t(rows) * cols);
    int ranges[40] = {};
    unsigned seed = 1;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) {
            seed = seed * 1103515245u + 12345u;
            // Detector columns are mostly flat with jumps: hold values for
            // a while, as brightness and logo columns do.
            int v = (c % 3 == 0) ? int((seed >> 16) % 256) : ((r / (10 + c)) % 2) * (100 + c);
            matrix[size_t(r) * cols + c] = v;
            ranges[2 * c + 1] = std::max(ranges[2 * c + 1], v);
        }
    QStringList labels;
    for (int c = 0; c <= cols; ++c)
        labels << QStringLiteral("col%1").arg(c);
    auto commercials = std::make_shared<CommercialList>();
    for (int i = 0; i < 10; ++i)
        commercials->append({i * 10000 + 2000, i * 10000 + 3999, 2000, 0});
    VideoGraph graph(QSizeF(1500, 750));
    graph.setLabelsInOrder(labels.mid(0, cols));
    graph.setData(matrix.data(), {rows, cols}, ranges);
    graph.setDataFrames(108000, 72.0f, 29.97f, labels, commercials);

    QImage image(1500, 750, QImage::Format_ARGB32_Premultiplied);
    const bool smooth = qEnvironmentVariableIsEmpty("BENCH_NO_SMOOTHING");
    const auto timeDraws = [&](const std::function<void(QPainter &)> &draw,
                               const std::function<void()> &before) {
        std::vector<double> ms;
        for (int i = 0; i < 51; ++i) {
            before();
            QElapsedTimer t;
            t.start();
            {
                QPainter p(&image);
                p.setRenderHint(QPainter::Antialiasing, smooth);
                p.setTransform(graph.logicalTransform(image.size()));
                draw(p);
            }
            if (i > 0) // the first draw loads fonts
                ms.push_back(double(t.nsecsElapsed()) / 1e6);
        }
        std::sort(ms.begin(), ms.end());
        return std::make_pair(ms[ms.size() / 2], ms.back());
    };
    // Through the widget's own paint, as the window draws it.
    graph.resize(1500, 750);
    QImage target(1500, 750, QImage::Format_ARGB32_Premultiplied);
    const auto viaWidget = [&](const std::function<void()> &before) {
        std::vector<double> ms;
        for (int i = 0; i < 51; ++i) {
            before();
            QElapsedTimer t;
            t.start();
            graph.render(&target);
            if (i > 0)
                ms.push_back(double(t.nsecsElapsed()) / 1e6);
        }
        std::sort(ms.begin(), ms.end());
        return std::make_pair(ms[ms.size() / 2], ms.back());
    };
    const auto full = viaWidget([&] { graph.commercialsChanged(); });
    const qint64 added = graph.lastPointsAdded(), covered = graph.lastRowsCovered();
    const auto cached = viaWidget([] {});
    // The same points, one polyline a column.
    std::vector<QPolygonF> polylines;
    for (int c = 0; c < cols; ++c) {
        QPolygonF poly;
        const QPainterPath &path = graph.path(c);
        for (int i = 0; i < path.elementCount(); ++i)
            poly << QPointF(path.elementAt(i).x, path.elementAt(i).y);
        polylines.push_back(poly);
    }
    const auto bare = timeDraws(
        [&](QPainter &p) {
            p.fillRect(graph.bounds(), Qt::white);
            for (int c = 0; c < cols; ++c) {
                p.setPen(QPen(QColor::fromHsvF(float(c) / cols, 1.0f, 1.0f), 3.0));
                p.drawPolyline(polylines[size_t(c)]);
            }
        },
        [] {});
    std::printf(
        "full_median_ms=%.2f (worst %.2f)  cached_median_ms=%.2f (worst %.2f)  bare_polyline_median_ms=%.2f  "
        "cached/bare=%.2f  points_added=%lld rows=%lld saved=%.1f%%\n",
        full.first, full.second, cached.first, cached.second, bare.first, cached.first / bare.first, added,
        covered, 100.0 * double(covered - added) / double(covered));
    return 0;
}

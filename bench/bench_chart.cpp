// A full draw of the chart: 1500 points x 20 columns with 10 commercials
// into an offscreen image, mean and worst of 50 draws.

#include "chart/VideoGraph.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdio>
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
    std::vector<double> ms;
    for (int i = 0; i < 51; ++i) {
        QElapsedTimer t;
        t.start();
        {
            QPainter p(&image);
            p.setRenderHint(QPainter::Antialiasing, qEnvironmentVariableIsEmpty("BENCH_NO_SMOOTHING"));
            p.setTransform(graph.logicalTransform(image.size()));
            graph.drawRect(p);
        }
        if (i > 0) // the first draw loads fonts
            ms.push_back(t.nsecsElapsed() / 1e6);
    }
    double sum = 0;
    for (double v : ms)
        sum += v;
    const qint64 added = graph.lastPointsAdded(), covered = graph.lastRowsCovered();
    std::printf("draws=%zu mean_ms=%.2f worst_ms=%.2f points_added=%lld rows=%lld saved=%.1f%%\n", ms.size(),
                sum / ms.size(), *std::max_element(ms.begin(), ms.end()), added, covered,
                100.0 * double(covered - added) / double(covered));
    return 0;
}

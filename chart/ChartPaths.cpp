// The chart's builders: the curves, the commercial bars with the length
// summary, the time scale, and the layout they are built for, all in the
// view's logical space.

#include "chart/VideoGraph.h"

#include "core/Diagnostics.h"

#include <cmath>
#include <limits>

namespace {

constexpr float kScaleStrip = 37.5f;
constexpr float kLabelColumn = 240.0f;
constexpr float kCurveInset = 7.5f;

} // namespace

void VideoGraph::buildChart(int col, const QRectF &r)
{
    if (col < 0 || col >= kSlots)
        return;
    const float x = float(r.x()), y = float(r.y()), w = float(r.width()), h = float(r.height());
    const double xinc = double(w) / m_dataSize.rows;
    logLine(QStringLiteral("buildChart: col=%1/%2 ").arg(col).arg(m_labels.value(col))
            + QString::asprintf("bounds={%0.0f,%0.0f,%0.0f,%0.0f} xinc=%f", double(x), double(y), double(w),
                                double(h), xinc));
    m_paths[size_t(col)] = QPainterPath();
    QPainterPath &path = m_paths[size_t(col)];

    const qint64 maximum = rangePointfromRow(col, 1);
    const qint64 minimum = rangePointfromRow(col, 0);
    const double vScale = double(h - 7.5f) / double(maximum - minimum);
    // A negative minimum lifts the base line so that the whole range fits.
    const int vOffset = int(double(y) + (minimum < 0 ? double(-minimum) * vScale : 0.0));
    if (!std::isfinite(vScale) || vScale == 0.0)
        return;
    logLine(QString::asprintf("  vScale %0.2f vOffset %d", vScale, vOffset));

    path.moveTo(x, y);
    float held = std::numeric_limits<float>::quiet_NaN();
    bool pending = false;
    int count = 0;
    double runningX = x;
    const float rightEdge = x + w;
    const int rows = int(qMin<quint32>(m_dataSize.rows, quint32(std::numeric_limits<int>::max())));
    for (int row = 0; row < rows; ++row) {
        const int v = dataPointfromRow(row, col);
        const float yv = float(double(float(v)) * vScale + vOffset);
        const float xr = float(runningX);
        runningX += xinc;
        if (xr > rightEdge) {
            logLine(QString::asprintf("X value exceeds edge of %0.0f by %0.1f at row %d of %d", double(w),
                                      double(xr - rightEdge), row, rows));
            break;
        }
        if (yv == held) {
            pending = true;
            continue;
        }
        if (pending) {
            path.lineTo(xr, held);
            ++count;
            pending = false;
        }
        path.lineTo(xr, yv);
        ++count;
        held = yv;
    }
    if (pending) {
        path.lineTo(runningX - xinc, held);
        ++count;
    }
    m_pointsAdded += count;
    m_rowsCovered += rows;
    logLine(QString::asprintf("  Output %d of %d points", count, rows));
}

void VideoGraph::buildCommercialBarsInBounds(const QRectF &r)
{
    m_commercialPaths.clear();
    m_keptPaths.clear();
    const float x = float(r.x()), y = float(r.y()), w = float(r.width()), h = float(r.height());
    const double xscale = double(w) / m_dataSize.rows;
    // Without rows or a chunk size there is no x to put a bar at.
    const bool canPlace = m_dataSize.rows > 0 && m_chunkSize > 0 && std::isfinite(m_chunkSize);
    const CommercialList list = m_commercials ? *m_commercials : CommercialList();
    for (const Commercial &c : list) {
        if (!canPlace)
            continue;
        const float x0 = float(double(float(c.start) / m_chunkSize) * xscale + x);
        const float x1 = float(double(float(c.end) / m_chunkSize) * xscale + x);
        const float width = qMin(x + w, x1) - x0 + 1.0f;
        QPainterPath bar;
        bar.addRect(QRectF(x0, y, width, h));
        // A break the user keeps is drawn hollow: still found, not cut.
        if (c.cut)
            m_commercialPaths.append(bar);
        else
            m_keptPaths.append(bar);
        logLine(QString::asprintf("commercial: %d-%d into %0.0f-%0.0f", c.start, c.end, double(x0),
                                  double(x0 + width)));
    }
}

void VideoGraph::updateLengths()
{
    qint64 newFrames = m_totalFrames;
    if (m_commercials)
        for (const Commercial &c : std::as_const(*m_commercials))
            if (c.cut)
                newFrames -= qint64(c.end) - c.start + 1;
    refreshLengthSummary(newFrames);
}

QString VideoGraph::lengthText(double frames) const
{
    // Without a frame rate there is no time to tell.
    if (!(m_fps > 0) || !std::isfinite(m_fps))
        return QString();
    return formatTime(frames / double(m_fps), true);
}

void VideoGraph::refreshLengthSummary(qint64 newFrames)
{
    emit lengthsChanged(m_totalFrames == 0 ? QString() : lengthText(double(m_totalFrames)),
                        newFrames == 0 ? QString() : lengthText(double(newFrames)));
}

void VideoGraph::buildScaleInBounds(const QRectF &r)
{
    m_scalePath = QPainterPath();
    m_scaleLabels.clear();
    const float x = float(r.x()), y = float(r.y()), w = float(r.width()), h = float(r.height());
    const float full = y + h, half = y + h * 0.5f, quarter = y + h * 0.25f;
    // One step a second of video: a frame rate of 0 or below, or one that
    // makes the recording years long, gives no scale.
    if (m_totalFrames <= 0 || !(m_fps > 0) || !std::isfinite(m_fps)
        || double(m_totalFrames) / double(m_fps) > 1.0e7)
        return;
    const double xscale = double(w) / m_totalFrames;
    for (float frame = 0.0f; frame < float(m_totalFrames); frame += m_fps) {
        const float tx = float(double(frame) * xscale + x);
        const long s = std::lroundf(frame / m_fps);
        float top = full;
        bool tick = true;
        if (s % 300 == 0)
            top = full;
        else if (s % 60 == 0)
            top = half;
        else if (s % 30 == 0)
            top = quarter;
        else
            tick = false;
        if (tick) {
            m_scalePath.moveTo(tx, y);
            m_scalePath.lineTo(tx, top);
        }
        // Each full tick says its time, in the table's form, beside its top
        // where the shorter ticks do not reach.
        if (s % 300 == 0)
            m_scaleLabels.append(
                {QRectF(tx + 4.0, y + h * 0.4, 150.0, h * 0.6), formatTime(double(s), true)});
        // A frame rate too small to move the count on would never end.
        if (frame + m_fps == frame)
            break;
    }
}

VideoGraph::Layout VideoGraph::layoutFor(const QRectF &b, int n)
{
    Layout l;
    const float bx = float(b.x()), by = float(b.y()), bw = float(b.width()), bh = float(b.height());
    l.scaleStrip = QRectF(bx, by, bw, kScaleStrip);
    l.chartArea = QRectF(bx + kLabelColumn, by + kScaleStrip, bw - kLabelColumn, bh - kScaleStrip);
    l.labelColumn = QRectF(bx + 15, by + kScaleStrip, 210, bh - kScaleStrip);
    l.scaleBand = QRectF(bx + kLabelColumn, by, bw - kLabelColumn, 30);
    if (n <= 0)
        return l;
    l.bandHeight = float(l.chartArea.height()) / float(n);
    l.bands.resize(n);
    l.curveRects.resize(n);
    l.labelRects.resize(n);
    float bandY = float(l.chartArea.y());
    for (int k = n - 1; k >= 0; --k) {
        const QRectF band(l.chartArea.x(), bandY, l.chartArea.width(), l.bandHeight);
        l.bands[k] = band;
        l.curveRects[k] = QRectF(band.x() + 1.0, band.y() + kCurveInset, band.width() - 2.0,
                                 band.height() - 2 * kCurveInset);
        l.labelRects[k] = QRectF(l.labelColumn.x(), band.y(), l.labelColumn.width(), l.bandHeight);
        bandY += l.bandHeight;
    }
    return l;
}

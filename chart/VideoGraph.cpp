#include "chart/VideoGraph.h"

#include "core/Diagnostics.h"
#include "core/TimeText.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QTimer>
#include <QVarLengthArray>

#include <cmath>
#include <limits>

namespace {

// Four screens' worth of pixels at most are kept as the drawn chart.
constexpr qint64 kMaxFramePixels = qint64(4096) * 1200;
// A live resize ends when the window has been still this long.
constexpr int kLiveResizeQuietMs = 250;

} // namespace

int dataPointFromData(const int *data, VideoGraph::DataSize size, int row, int col)
{
    if (!data || row < 0 || col < 0 || quint32(row) >= size.rows || quint32(col) >= size.cols)
        return 0;
    return data[qsizetype(row) * size.cols + col];
}

VideoGraph::VideoGraph(const QSizeF &frame, QWidget *parent) : QWidget(parent)
{
    resize(frame.toSize());
    m_frameSize = size();
    const float ratio = frame.width() > 0 ? float(frame.height() / frame.width()) : 0.5f;
    logLine(QString::asprintf("bounds={%0.0f,%0.0f,%0.0f,%0.0f} ratio=%f", 0.0, 0.0, frame.width(),
                              frame.height(), double(ratio)));
    m_bounds = QRectF(0, 0, 1500.0, double(1500.0f * ratio));
    logLine(QString::asprintf("new bounds={%0.0f,%0.0f,%0.0f,%0.0f}", 0.0, 0.0, 1500.0, m_bounds.height()));
    m_labelFont = QFont(QStringLiteral("Helvetica"));
    m_labelFont.setPixelSize(30);
    setMouseTracking(true);
    m_liveResizeEnd = new QTimer(this);
    m_liveResizeEnd->setSingleShot(true);
    m_liveResizeEnd->setInterval(kLiveResizeQuietMs);
    connect(m_liveResizeEnd, &QTimer::timeout, this, [this] {
        m_liveResize = false;
        viewDidEndLiveResize();
    });
}

VideoGraph::~VideoGraph() = default;

void VideoGraph::setData(const int *data, DataSize size, const int *ranges)
{
    m_data = data;
    m_dataSize = size;
    m_dataRanges = ranges;
    m_pathsValid = false;
}

void VideoGraph::setDataFrames(int frames, float chunkSize, float fps, const QStringList &labels,
                               SharedCommercials commercials)
{
    m_totalFrames = frames;
    m_labels = labels;
    m_commercials = std::move(commercials);
    m_fps = fps;
    m_chunkSize = chunkSize;
    m_colCount = labels.isEmpty() ? 0 : int(labels.size()) - 1;

    int i = 0;
    for (const QString &s : std::as_const(m_labelsInOrder)) {
        const qsizetype index = labels.indexOf(s);
        const int f = index < 0 ? kNotFound : int(index);
        logLine(QStringLiteral("%1: label %2 position is %3").arg(i).arg(s).arg(f));
        // Only 20 columns and 20 positions exist; anything beyond is left out.
        if (index >= 0 && f < kSlots && i < kSlots)
            m_columnOrder[size_t(i++)] = f;
    }
    m_colCountToShow = i;
    m_pathsValid = false;
    updateLengths();
    reloadTable();
}

void VideoGraph::setDataFile(const QString &path)
{
    emit dataFileChanged(path);
}

int VideoGraph::dataPointfromRow(int row, int col) const
{
    return dataPointFromData(m_data, m_dataSize, row, col);
}

int VideoGraph::rangePointfromRow(int column, int which) const
{
    if (!m_dataRanges || column < 0 || column >= kSlots || which < 0 || which > 1)
        return 0;
    return m_dataRanges[column * 2 + which];
}

QTransform VideoGraph::logicalTransform(const QSizeF &size) const
{
    const double sx = m_bounds.width() > 0 ? size.width() / m_bounds.width() : 1.0;
    const double sy = m_bounds.height() > 0 ? size.height() / m_bounds.height() : 1.0;
    QTransform t;
    t.translate(0, size.height());
    t.scale(sx, -sy);
    t.translate(-m_bounds.x(), -m_bounds.y());
    return t;
}

namespace {

// Text in a logical rectangle, starting at its top-left corner and clipped
// to it, with the label shadow one unit right and one unit down. A text
// wider than its rectangle is set smaller, so that it never runs into the
// plot beside it.
void drawLabel(QPainter &p, const QRectF &r, const QString &text, const QFont &font)
{
    p.save();
    p.translate(r.x(), r.y() + r.height());
    p.scale(1, -1);
    const QRectF local(0, 0, r.width(), r.height());
    p.setClipRect(local, Qt::IntersectClip);
    QFont fitted = font;
    const qreal advance = QFontMetricsF(font).horizontalAdvance(text) + 2.0;
    if (advance > local.width() && font.pixelSize() > 0)
        fitted.setPixelSize(qMax(8, int(std::floor(font.pixelSize() * local.width() / advance))));
    p.setFont(fitted);
    p.setPen(QColor(0, 0, 0, 85));
    p.drawText(local.translated(1, 1), Qt::AlignLeft | Qt::AlignTop, text);
    p.setPen(Qt::black);
    p.drawText(local, Qt::AlignLeft | Qt::AlignTop, text);
    p.restore();
}

} // namespace

void VideoGraph::rebuildPaths(const Layout &l)
{
    // Built in logical space, so a zoom or a repaint reuses them; only new
    // data or new bounds build them again.
    const int n = m_colCountToShow;
    for (int k = n - 1; k >= 0; --k) {
        const int col = m_columnOrder[size_t(k)];
        logLine(QString::asprintf("  color %0.3f", double(-1.0 / n * k + 1.0)));
        buildChart(col, l.curveRects[k]);
        std::vector<QLineF> &lines = m_segments[size_t(col)];
        lines.clear();
        const QPainterPath &path = m_paths[size_t(col)];
        const int count = path.elementCount();
        if (count < 2)
            continue;
        lines.reserve(size_t(count - 1));
        QPointF last(path.elementAt(0).x, path.elementAt(0).y);
        for (int i = 1; i < count; ++i) {
            const QPainterPath::Element e = path.elementAt(i);
            const QPointF next(e.x, e.y);
            if (e.isLineTo())
                lines.push_back(QLineF(last, next));
            last = next;
        }
    }
    buildCommercialBarsInBounds(l.chartArea);
    buildScaleInBounds(l.scaleBand);
    m_pathsBounds = m_bounds;
    m_pathsValid = true;
}

void VideoGraph::drawRect(QPainter &p)
{
    const int n = m_colCountToShow;
    const Layout l = layoutFor(m_bounds, n);
    p.fillRect(m_bounds, Qt::white);
    p.setPen(QPen(Qt::black, 2.0));
    p.setBrush(Qt::NoBrush);
    p.drawRect(m_bounds);
    if (m_colCount == 0)
        return;

    logLine(QStringLiteral("Draw subchart frames..."));
    if (!m_liveResize && (!m_pathsValid || m_pathsBounds != m_bounds))
        rebuildPaths(l);
    // Smoothing pays only on the curves and the text: the frames, bars and
    // ticks are upright rectangles and lines, and smoothing them costs
    // about half of a full draw.
    const bool smooth = p.testRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QPen(QColor::fromRgbF(0.5, 0.5, 0.5), 1.0));
    for (int k = n - 1; k >= 0; --k)
        p.drawRect(l.bands[k]);
    p.setRenderHint(QPainter::Antialiasing, smooth);
    for (int k = n - 1; k >= 0; --k) {
        const int col = m_columnOrder[size_t(k)];
        if (!m_liveResize && m_pathsValid) {
            const float hue = float(-1.0 / n * k + 1.0);
            // Hue 1.0 and 0.0 are the same red. A curve is stroked segment
            // by segment: the rasterizer fills many small quads far faster
            // than one outline of a jagged 1500-point curve, and square
            // caps close the joins.
            p.setPen(QPen(QColor::fromHsvF(hue >= 1.0f ? 0.0f : hue, 1.0f, 1.0f, 1.0f), 3.0));
            const std::vector<QLineF> &lines = m_segments[size_t(col)];
            if (!lines.empty())
                p.drawLines(lines.data(), int(lines.size()));
        }
        drawLabel(p, l.labelRects[k], m_labels.value(col), m_labelFont);
    }

    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor::fromRgbF(0.4, 0.4, 0.4, 0.4));
    for (const QPainterPath &bar : std::as_const(m_commercialPaths))
        p.drawPath(bar);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor::fromRgbF(0.4, 0.4, 0.4, 0.8), 3.0, Qt::DashLine));
    for (const QPainterPath &bar : std::as_const(m_keptPaths))
        p.drawPath(bar);

    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::black, 2.0));
    p.drawPath(m_scalePath);
    p.setRenderHint(QPainter::Antialiasing, smooth);
    QFont scaleFont = m_labelFont;
    scaleFont.setPixelSize(18);
    for (const ScaleLabel &label : std::as_const(m_scaleLabels))
        drawLabel(p, label.rect, label.text, scaleFont);

    logLine(QStringLiteral("Done drawing"));
}

void VideoGraph::paintEvent(QPaintEvent *event)
{
    // The whole chart is drawn once into an image of the widget's size and
    // repainted from it: scrolling, exposing and repainting cost a copy,
    // and only new data, bounds or size draw it again.
    const qreal ratio = devicePixelRatioF();
    const QSize pixels = (QSizeF(size()) * ratio).toSize();
    // Zoomed far in, the chart is many screens wide: it is then painted
    // directly, clipped to what shows, rather than drawn whole.
    if (qint64(pixels.width()) * pixels.height() > kMaxFramePixels) {
        m_frame = QImage();
        QPainter p(this);
        p.setClipRect(event->rect());
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setTransform(logicalTransform(size()));
        drawRect(p);
        return;
    }
    const bool stale = !m_pathsValid || m_pathsBounds != m_bounds || m_frameLiveResize != m_liveResize;
    if (m_frame.size() != pixels || stale || !m_frameValid) {
        m_frame = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
        m_frame.setDevicePixelRatio(ratio);
        QPainter ip(&m_frame);
        ip.setRenderHint(QPainter::Antialiasing, true);
        ip.setTransform(logicalTransform(size()));
        drawRect(ip);
        m_frameValid = true;
        m_frameLiveResize = m_liveResize;
    }
    QPainter p(this);
    const QRect r = event->rect();
    p.drawImage(r, m_frame, QRectF(QPointF(r.topLeft()) * ratio, QSizeF(r.size()) * ratio));
    // Where a dragged edge or a new break would go, over the drawn chart.
    if ((m_drag == Drag::Edge || m_drag == Drag::NewBreak) && m_dragFrame >= 0 && m_dataSize.rows > 0) {
        const auto screenX = [this](int frame) { return widgetXForFrame(frame); };
        p.setPen(QPen(QColor(0, 90, 200), 2));
        if (m_drag == Drag::Edge) {
            p.drawLine(QPointF(screenX(m_dragFrame), 0), QPointF(screenX(m_dragFrame), height()));
        } else {
            const double a = screenX(m_dragFrom), b = screenX(m_dragFrame);
            p.fillRect(QRectF(std::min(a, b), 0, std::abs(b - a), height()), QColor(0, 90, 200, 60));
        }
    }
}

void VideoGraph::resizeEvent(QResizeEvent *event)
{
    // As with any view whose bounds were set, the logical space keeps its
    // scale on screen when the frame changes; only a zoom keeps the space.
    const QSize old = m_frameSize;
    if (!m_zooming && old.width() > 0 && old.height() > 0 && event->size() != old) {
        m_bounds.setWidth(m_bounds.width() * event->size().width() / old.width());
        m_bounds.setHeight(m_bounds.height() * event->size().height() / old.height());
    }
    m_frameSize = event->size();
    QWidget::resizeEvent(event);
}

void VideoGraph::showEvent(QShowEvent *event)
{
    QWidget *top = window();
    if (top != m_watchedWindow) {
        if (m_watchedWindow)
            m_watchedWindow->removeEventFilter(this);
        m_watchedWindow = top;
        if (top && top != this)
            top->installEventFilter(this);
    }
    QWidget::showEvent(event);
}

bool VideoGraph::eventFilter(QObject *watched, QEvent *event)
{
    // X11 has no live-resize notice: a burst of window resizes made by the
    // user is one live resize, over once the window has been still a while.
    if (watched == m_watchedWindow && event->type() == QEvent::Resize && event->spontaneous()
        && m_watchedWindow->isVisible()) {
        m_liveResize = true;
        m_liveResizeEnd->start();
    }
    return QWidget::eventFilter(watched, event);
}

void VideoGraph::changeZoomSlider(int hundredths)
{
    // The slider counts hundredths of the zoom.
    setZoom(float(double(hundredths) / 100.0));
    if (parentWidget())
        parentWidget()->update();
}

void VideoGraph::setZoom(float zoom)
{
    if (!(zoom > 0) || !std::isfinite(zoom))
        return;
    const QRectF kept = m_bounds;
    m_zooming = true;
    resize(qMax(1, int(std::lround(double(zoom) * kept.width()))), height());
    m_frameSize = size();
    m_zooming = false;
    m_bounds = kept;
}

void VideoGraph::viewDidEndLiveResize()
{
    update();
}

int VideoGraph::numberOfRowsInTableView() const
{
    return m_commercials ? int(m_commercials->size()) : 0;
}

QString VideoGraph::tableObjectValue(const QString &identifier, int row) const
{
    if (identifier == QStringLiteral("#"))
        return QString::number(row + 1);
    // The list may have been emptied and refilled since the table counted it.
    if (!m_commercials || row < 0 || row >= m_commercials->size())
        return QString();
    if (!(m_fps > 0) || !std::isfinite(m_fps))
        return QString();
    const float seconds = float(m_commercials->at(row).value(identifier)) / m_fps;
    return formatTime(double(seconds), true);
}

void VideoGraph::commercialsChanged()
{
    m_pathsValid = false;
    updateLengths();
    update();
    reloadTable();
}

void VideoGraph::reloadTable()
{
    emit commercialsReloaded();
}

QString VideoGraph::formatTime(double t, bool alwaysShowHours)
{
    return timeText(t, alwaysShowHours);
}

QString VideoGraph::formatTime(double t)
{
    return formatTime(t, false);
}

// Frames and widget x run through the chart area the bars are placed in:
// a chart point is chunkSize frames wide.
double VideoGraph::widgetXForFrame(int frame) const
{
    const QRectF area = layoutFor(m_bounds, m_colCountToShow).chartArea;
    const double logicalX = double(frame) / m_chunkSize * area.width() / m_dataSize.rows + area.x();
    return logicalTransform(size()).map(QPointF(logicalX, 0)).x();
}

int VideoGraph::frameAt(const QPointF &widgetPos) const
{
    if (m_dataSize.rows == 0 || !(m_chunkSize > 0) || m_totalFrames <= 0)
        return -1;
    const QRectF area = layoutFor(m_bounds, m_colCountToShow).chartArea;
    const QPointF logical = logicalTransform(size()).inverted().map(widgetPos);
    const double frame =
        (logical.x() - area.x()) * double(m_dataSize.rows) / area.width() * double(m_chunkSize);
    return int(std::clamp(std::lround(frame), 0L, long(m_totalFrames) - 1));
}

std::pair<int, bool> VideoGraph::edgeAt(const QPointF &widgetPos) const
{
    if (!m_commercials || m_dataSize.rows == 0 || !(m_chunkSize > 0))
        return {-1, true};
    const auto screenX = [this](int frame) { return widgetXForFrame(frame); };
    constexpr double kReach = 5.0; // pixels either side of an edge
    for (int i = 0; i < m_commercials->size(); ++i) {
        const Commercial &c = m_commercials->at(i);
        if (std::abs(widgetPos.x() - screenX(c.start)) <= kReach)
            return {i, true};
        if (std::abs(widgetPos.x() - screenX(c.end + 1)) <= kReach)
            return {i, false};
    }
    return {-1, true};
}

void VideoGraph::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || frameAt(event->position()) < 0) {
        QWidget::mousePressEvent(event);
        return;
    }
    const auto [row, startEdge] = edgeAt(event->position());
    m_dragFrom = m_dragFrame = frameAt(event->position());
    if (row >= 0) {
        m_drag = Drag::Edge;
        m_dragRow = row;
        m_dragStartEdge = startEdge;
    } else {
        m_drag = event->modifiers() & Qt::ShiftModifier ? Drag::NewBreak : Drag::Click;
    }
    update();
}

void VideoGraph::mouseMoveEvent(QMouseEvent *event)
{
    if (m_drag == Drag::None) {
        // The cursor says when an edge can be taken.
        if (edgeAt(event->position()).first >= 0)
            setCursor(Qt::SizeHorCursor);
        else
            unsetCursor();
        return;
    }
    m_dragFrame = frameAt(event->position());
    update();
}

void VideoGraph::mouseReleaseEvent(QMouseEvent *event)
{
    const Drag drag = m_drag;
    m_drag = Drag::None;
    if (drag == Drag::None || event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    const int frame = frameAt(event->position());
    update();
    if (frame < 0)
        return;
    if (drag == Drag::Edge && frame != m_dragFrom)
        emit breakEdgeDragged(m_dragRow, m_dragStartEdge, m_dragStartEdge ? frame : frame - 1);
    else if (drag == Drag::NewBreak && std::abs(frame - m_dragFrom) > 1)
        emit breakDrawn(std::min(frame, m_dragFrom), std::max(frame, m_dragFrom) - 1);
    else if (drag == Drag::Click || drag == Drag::Edge)
        emit frameClicked(frame);
}

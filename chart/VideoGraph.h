#pragma once

#include "core/Commercial.h"

#include <QImage>
#include <QLineF>
#include <QPainterPath>
#include <QPointer>
#include <QRectF>
#include <QStringList>
#include <QWidget>

#include <array>
#include <vector>

class QTimer;

// The chart of the detector's per-frame data: one sub-chart per selected
// column, translucent bars over the commercials and a time scale, drawn in
// a logical space 1500 units wide with y pointing up. It borrows the
// controller's matrix, ranges and commercial list and reads them in place.
// It owns no control of its window: what it has to show beside the chart
// (the file's name, the lengths) it emits, and the zoom it is given.
class VideoGraph : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kSlots = 20;
    static constexpr int kNotFound = 2147483647;

    struct DataSize
    {
        quint32 rows = 0;
        quint32 cols = 0;
    };
    // The fixed layout of one draw, in logical units; rectangles are
    // (x, y, w, h) with y the bottom edge.
    struct Layout
    {
        QRectF scaleStrip, chartArea, labelColumn, scaleBand;
        float bandHeight = 0;
        QList<QRectF> bands; // by display position, 0 the top band
        QList<QRectF> curveRects; // bands inset by 1 left/right, 7.5 top/bottom
        QList<QRectF> labelRects;
    };

    // frame: the size the view is created with; its aspect ratio fixes the
    // logical space's height.
    explicit VideoGraph(const QSizeF &frame, QWidget *parent = nullptr);
    ~VideoGraph() override;

    void setData(const int *data, DataSize size, const int *ranges);
    void setDataFrames(int frames, float chunkSize, float fps, const QStringList &labels,
                       SharedCommercials commercials);
    // The charted recording's path, for the window to show (dataFileChanged).
    void setDataFile(const QString &path);
    int dataPointfromRow(int row, int col) const;
    int rangePointfromRow(int column, int which) const;

    void buildChart(int column, const QRectF &bounds);
    void buildCommercialBarsInBounds(const QRectF &bounds);
    void buildScaleInBounds(const QRectF &bounds);
    // The whole drawing pass, into any painter already mapped to the
    // logical space (see logicalTransform).
    void drawRect(QPainter &painter);

    // The zoom slider's value, in hundredths of the zoom.
    void changeZoomSlider(int hundredths);
    void setZoom(float zoom);
    void viewDidEndLiveResize();

    int numberOfRowsInTableView() const;
    QString tableObjectValue(const QString &identifier, int row) const;
    // The frame list was read again into the shared list.
    void commercialsChanged();
    SharedCommercials commercialList() const { return m_commercials; }
    float framesPerSecond() const { return m_fps; }
    int frameCount() const { return m_totalFrames; }

signals:
    // The path of the recording charted; empty once the chart is cleared.
    void dataFileChanged(const QString &path);
    // The recording's length before and after the cut, as time texts;
    // empty where there is no length to tell.
    void lengthsChanged(const QString &before, const QString &after);
    // The commercial list is new or was refilled: the table reloads.
    void commercialsReloaded();
    // The user dragged an edge of break row to frame (start edge or end).
    void breakEdgeDragged(int row, bool startEdge, int frame);
    // The user drew a new break with Shift held, from frame to frame.
    void breakDrawn(int startFrame, int endFrame);
    // The user clicked the chart at frame.
    void frameClicked(int frame);

public:
    // The frame under a point of the widget, snapped to a whole frame and
    // kept inside the recording; -1 without data.
    int frameAt(const QPointF &widgetPos) const;
    // The break edge within reach of a point of the widget: its row and
    // whether it is the start; row -1 when there is none.
    std::pair<int, bool> edgeAt(const QPointF &widgetPos) const;
    // Where a frame stands across the widget (callers check for data).
    double widgetXForFrame(int frame) const;

public:
    static QString formatTime(double seconds, bool alwaysShowHours);
    static QString formatTime(double seconds);
    static Layout layoutFor(const QRectF &bounds, int displayPositions);
    // Builds every curve, the bars and the scale for the layout.
    void rebuildPaths(const Layout &layout);

    // Logical space to widget pixels for a widget of the given size.
    QTransform logicalTransform(const QSizeF &widgetSize) const;
    QRectF bounds() const { return m_bounds; }
    int colCount() const { return m_colCount; }
    int colCountToShow() const { return m_colCountToShow; }
    const std::array<int, kSlots> &columnOrder() const { return m_columnOrder; }
    const QPainterPath &path(int column) const { return m_paths.at(size_t(column)); }
    const QList<QPainterPath> &commercialPaths() const { return m_commercialPaths; }
    // The bars of breaks the user keeps in the copy, drawn hollow.
    const QList<QPainterPath> &keptPaths() const { return m_keptPaths; }
    const QPainterPath &scalePath() const { return m_scalePath; }
    // The times written beside the full ticks, in logical space.
    struct ScaleLabel
    {
        QRectF rect;
        QString text;
    };
    const QList<ScaleLabel> &scaleLabels() const { return m_scaleLabels; }
    const QFont &labelFont() const { return m_labelFont; }
    void setLabelsInOrder(const QStringList &order) { m_labelsInOrder = order; }
    // Points the last curve builds added, and rows they covered.
    qint64 lastPointsAdded() const { return m_pointsAdded; }
    qint64 lastRowsCovered() const { return m_rowsCovered; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void reloadTable();
    void updateLengths();
    void refreshLengthSummary(qint64 newFrames);
    QString lengthText(double frames) const;

    const int *m_data = nullptr;
    const int *m_dataRanges = nullptr;
    std::array<int, kSlots> m_columnOrder{};
    std::array<QPainterPath, kSlots> m_paths;
    QStringList m_labelsInOrder;
    QPainterPath m_scalePath;
    // The curves as line segments, ready to draw, and whether they and the
    // bars and scale still belong to the data and the bounds.
    std::array<std::vector<QLineF>, kSlots> m_segments;
    bool m_pathsValid = false;
    QRectF m_pathsBounds;
    // The chart as last drawn, at the widget's size.
    QImage m_frame;
    bool m_frameValid = false;
    bool m_frameLiveResize = false;
    // A drag under way: an edge being moved, or a new break being drawn.
    enum class Drag { None, Edge, NewBreak, Click };
    Drag m_drag = Drag::None;
    int m_dragRow = -1;
    bool m_dragStartEdge = true;
    int m_dragFrom = -1;
    int m_dragFrame = -1;
    QList<ScaleLabel> m_scaleLabels;
    QList<QPainterPath> m_commercialPaths;
    QList<QPainterPath> m_keptPaths;
    SharedCommercials m_commercials;
    QStringList m_labels;
    QFont m_labelFont;
    DataSize m_dataSize;
    int m_colCount = 0;
    int m_colCountToShow = 0;
    float m_fps = 0;
    int m_totalFrames = 0;
    float m_chunkSize = 0;

    QRectF m_bounds;
    QSize m_frameSize; // the size the bounds were last fitted to
    bool m_zooming = false;
    bool m_liveResize = false;
    QTimer *m_liveResizeEnd = nullptr;
    QPointer<QWidget> m_watchedWindow;
    qint64 m_pointsAdded = 0;
    qint64 m_rowsCovered = 0;
};

// The cell (row, col) of a matrix given explicitly.
int dataPointFromData(const int *data, VideoGraph::DataSize size, int row, int col);

// The chart window: the chart and the table of breaks, the controller's
// results handed to them, and the user's corrections of the breaks with
// the frames either side of one.

#include "app/AppWindows.h"

#include "app/EdgeReview.h"
#include "chart/CommercialTableModel.h"
#include "chart/VideoGraph.h"
#include "core/PropertyList.h"
#include "ui_GraphWindow.h"

#include <QAction>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMainWindow>
#include <QPixmap>
#include <QResizeEvent>
#include <QScrollArea>
#include <QTableView>
#include <QToolButton>
#include <QUndoStack>

#include <algorithm>

namespace {

// One edit of the break list, undone by putting the list back as it was;
// never on another recording's list.
class BreakEdit : public QUndoCommand
{
public:
    BreakEdit(AppController &c, CommercialList before, CommercialList after, const QString &text)
        : QUndoCommand(text),
          m_c(c),
          m_recording(c.movieFile()),
          m_before(std::move(before)),
          m_after(std::move(after))
    { }
    void redo() override { apply(m_after); }
    void undo() override { apply(m_before); }

private:
    void apply(const CommercialList &list)
    {
        if (m_c.movieFile() == m_recording)
            m_c.applyBreaks(list);
    }
    AppController &m_c;
    const QString m_recording;
    CommercialList m_before;
    CommercialList m_after;
};

} // namespace

void AppWindows::setUpChart()
{
    // The chart view is made here so that its logical space follows the
    // size it is created with.
    QScrollArea *scroll = m_graphUi->graphScrollArea;
    m_graph = new VideoGraph(QSizeF(900, 450));
    delete scroll->takeWidget();
    scroll->setWidget(m_graph);
    m_viewport = scroll->viewport();
    m_viewport->installEventFilter(this);
    m_graph->mGraphFileText = m_graphUi->mGraphFileText;
    m_graph->mGraphStatusText = m_graphUi->mGraphStatusText;
    m_graph->mGraphProgressIndicator = m_graphUi->mGraphProgressIndicator;
    m_graph->mZoomSlider = m_graphUi->mZoomSlider;
    m_graph->mCommercialTable = m_graphUi->mCommercialTable;
    m_graph->mShowLengthOld = m_graphUi->mShowLengthOld;
    m_graph->mShowLengthNew = m_graphUi->mShowLengthNew;
    m_tableModel = new CommercialTableModel(this);
    connect(m_graph, &VideoGraph::commercialsReloaded, m_tableModel, [this] {
        const SharedCommercials list = m_graph->commercialList();
        m_tableModel->setCommercials(list ? *list : CommercialList(), m_graph->framesPerSecond(),
                                     m_graph->frameCount());
    });
    m_graph->setLabelsInOrder(labelOrder());
    m_graphUi->mCommercialTable->setModel(m_tableModel);
    setUpEditing();
    setUpPreview();
    m_graphUi->mCommercialTable->verticalHeader()->hide();
    m_graphUi->mCommercialTable->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_graphUi->graphSplitter->setStretchFactor(0, 1);
    m_graphUi->graphSplitter->setSizes({800, 400});
    m_graphUi->reviewSplitter->setStretchFactor(0, 1);
    m_graphUi->reviewSplitter->setSizes({480, 320});
    connect(m_graphUi->mZoomSlider, &QSlider::valueChanged, m_graph, [this] { fitChart(); });
    m_graph->changeZoomSlider(m_graphUi->mZoomSlider);
    // Nothing is loading until a chart is asked for.
    m_graphUi->mGraphProgressIndicator->hide();
    m_graphUi->graphScrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_noCommercials = new QLabel(tr("No commercials found."), m_graphUi->mCommercialTable->viewport());
    m_noCommercials->setAlignment(Qt::AlignCenter);
    m_noCommercials->setAccessibleName(QStringLiteral("No commercials found"));
    m_noCommercials->hide();
    connect(m_tableModel, &QAbstractItemModel::modelReset, this, &AppWindows::updateEmptyTable);
    connect(m_tableModel, &QAbstractItemModel::rowsInserted, this, &AppWindows::updateEmptyTable);
    connect(m_tableModel, &QAbstractItemModel::rowsRemoved, this, &AppWindows::updateEmptyTable);
}

void AppWindows::connectChart()
{
    AppController &c = m_controller;
    connect(&c, &AppController::chartRequested, this, [this] {
        m_graphWindow->show();
        m_graphWindow->raise();
        m_graphWindow->activateWindow();
    });
    connect(&c, &AppController::chartChanged, this, &AppWindows::showChart);
    connect(&c, &AppController::chartCleared, this, &AppWindows::clearChart);
    connect(&c, &AppController::commercialsChanged, m_graph, &VideoGraph::commercialsChanged);
}

void AppWindows::showChart()
{
    // The view reads the controller's points in place, until chartCleared.
    const AppController &c = m_controller;
    const Recording::Chart &chart = c.chart();
    m_graph->setData(chart.values.data(),
                     VideoGraph::DataSize{quint32(chart.pointCount), quint32(AppController::kMaxDataCols)},
                     chart.ranges.data());
    m_graph->setDataFrames(c.totalRows(), chart.chunkSize, c.fps(), c.labels(), c.commercials());
    m_graph->setDataFile(c.movieFile());
    m_graph->update();
}

void AppWindows::clearChart()
{
    m_graph->setData(nullptr, VideoGraph::DataSize{0, 0}, nullptr);
    m_graph->setDataFrames(0, 0.0f, 0.0f, QStringList(), nullptr);
    m_graph->setDataFile(QString());
    m_graph->update();
}

void AppWindows::setUpEditing()
{
    Ui::GraphWindow &g = *m_graphUi;
    m_undo = new QUndoStack(this);
    QAction *undo = m_undo->createUndoAction(this, tr("Undo"));
    undo->setShortcut(QKeySequence::Undo);
    QAction *redo = m_undo->createRedoAction(this, tr("Redo"));
    redo->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+Z")));
    // Each edit holds the whole list before and after it, true only of the
    // list it was made on: one stack for each recording would still hold
    // lists a later detection (the queue's, in the background) replaced.
    connect(&m_controller, &AppController::breaksReplaced, m_undo, &QUndoStack::clear);
    m_graphWindow->addAction(undo);
    m_graphWindow->addAction(redo);
    g.undoButton->setDefaultAction(undo);
    g.redoButton->setDefaultAction(redo);

    connect(m_tableModel, &CommercialTableModel::editRequested, this,
            [this](const CommercialList &after, const QString &text) {
                if (m_controller.runInProgress()) {
                    m_graphUi->mGraphStatusText->setText(
                        tr("The breaks cannot change while a run is in progress."));
                    return;
                }
                m_graphUi->mGraphStatusText->setText(text + QLatin1Char('.'));
                m_undo->push(new BreakEdit(m_controller, m_tableModel->rows(), after, text));
            });
    connect(m_tableModel, &CommercialTableModel::editRejected, g.mGraphStatusText, &QLabel::setText);
    connect(g.deleteBreakButton, &QPushButton::clicked, this, [this] {
        const QModelIndex current = m_graphUi->mCommercialTable->currentIndex();
        if (current.isValid())
            m_tableModel->removeBreak(current.row());
    });
    connect(g.addBreakButton, &QPushButton::clicked, this, &AppWindows::addBreak);
    connect(g.revertButton, &QPushButton::clicked, this, [this] {
        CommercialList detected = m_controller.detectedCommercials();
        for (Commercial &d : detected)
            d.cut = true;
        m_tableModel->editRequested(detected, tr("Revert to detection"));
    });
    // Space ticks or unticks "Cut" wherever the row's cursor is; Delete
    // takes the break out.
    g.mCommercialTable->installEventFilter(this);
    g.mCommercialTable->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed
                                        | QAbstractItemView::AnyKeyPressed);
    connect(m_graph, &VideoGraph::breakEdgeDragged, m_tableModel, &CommercialTableModel::moveEdge);
    connect(m_graph, &VideoGraph::breakDrawn, m_tableModel, &CommercialTableModel::addBreak);
}

void AppWindows::setUpPreview()
{
    m_review = new EdgeReview(m_controller, *m_tableModel, *m_graphUi, m_graphWindow);
    QItemSelectionModel *cursor = m_graphUi->mCommercialTable->selectionModel();
    connect(cursor, &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex &current) { showBoundary(current.row()); });
    // The cursor on a start or an end chooses the edge the keys move.
    connect(cursor, &QItemSelectionModel::currentChanged, this, [this](const QModelIndex &current) {
        const QString id = m_tableModel->identifier(current.column());
        if (id == QLatin1String("start") || id == QLatin1String("end"))
            m_review->setStartEdge(id == QLatin1String("start"));
    });
    connect(m_tableModel, &QAbstractItemModel::modelReset, this, [this] {
        // The cursor stays on the break it was on, and its strips follow an
        // edge that moved.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (m_selectedRow >= 0 && m_selectedRow < m_tableModel->rowCount())
                    m_graphUi->mCommercialTable->setCurrentIndex(m_tableModel->index(m_selectedRow, 0));
                else
                    m_review->showBreak(-1);
            },
            Qt::QueuedConnection);
    });
    connect(m_graph, &VideoGraph::frameClicked, m_review, &EdgeReview::showFrame);
}

void AppWindows::showBoundary(int row)
{
    // A reset of the table passes through no row at all; the row the user
    // was on is kept for it.
    if (row >= 0) {
        m_selectedRow = row;
        m_review->showBreak(row);
    }
}

void AppWindows::addBreak()
{
    // A 30-second break in the middle of the longest stretch of programme;
    // its ends are then moved in the table.
    const CommercialList &rows = m_tableModel->rows();
    const int total = m_graph->frameCount();
    const float fps = m_graph->framesPerSecond();
    if (total <= 0 || !(fps > 0))
        return;
    int bestFrom = 0, bestTo = -1, from = 0;
    for (const Commercial &c : rows) {
        if (c.start - from > bestTo - bestFrom) {
            bestFrom = from;
            bestTo = c.start;
        }
        from = c.end + 1;
    }
    if (total - from > bestTo - bestFrom) {
        bestFrom = from;
        bestTo = total;
    }
    const int length = qMin(int(30 * fps), (bestTo - bestFrom) - 2);
    if (length < 2) {
        m_graphUi->mGraphStatusText->setText(tr("There is no room for another break."));
        return;
    }
    const int start = bestFrom + (bestTo - bestFrom - length) / 2;
    m_tableModel->addBreak(start, start + length - 1);
}

QStringList AppWindows::labelOrder()
{
    QStringList order;
    for (const QVariant &v : readPropertyList(QStringLiteral(":/settings/labelOrder.plist")).toList())
        if (v.typeId() == QMetaType::QString)
            order.append(v.toString());
    return order;
}

void AppWindows::fitChart()
{
    const double wanted = double(m_graphUi->mZoomSlider->value()) / 100.0;
    const double width = m_graph->bounds().width();
    const double fit = width > 0 && m_viewport ? double(m_viewport->width()) / width : wanted;
    m_graph->setZoom(float(std::max(wanted, fit)));
    m_graph->update();
}

void AppWindows::updateEmptyTable()
{
    QTableView *table = m_graphUi->mCommercialTable;
    const bool empty = m_tableModel->rowCount() == 0 && m_controller.haveResults();
    m_noCommercials->setGeometry(table->viewport()->rect());
    m_noCommercials->setVisible(empty);
}

bool AppWindows::chartEvent(QObject *watched, QEvent *event)
{
    if (watched == m_graphUi->mCommercialTable && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        const QModelIndex current = m_graphUi->mCommercialTable->currentIndex();
        const int row = current.isValid() ? current.row() : m_selectedRow;
        if (row >= 0 && row < m_tableModel->rowCount() && key == Qt::Key_Space) {
            m_tableModel->toggleCut(row);
            return true;
        }
        if (row >= 0 && row < m_tableModel->rowCount()
            && (key == Qt::Key_Delete || key == Qt::Key_Backspace)) {
            m_tableModel->removeBreak(row);
            m_selectedRow = -1;
            return true;
        }
    } else if (watched == m_viewport && event->type() == QEvent::Resize) {
        // The chart fills the height; its width is the zoom's, and never
        // less than the pane's, so a chart that fits needs no scroll bar.
        m_graph->resize(m_graph->width(), static_cast<QResizeEvent *>(event)->size().height());
        fitChart();
    }
    return false;
}

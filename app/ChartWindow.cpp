// The chart window: the chart and the table of breaks, the controller's
// results handed to them, and the user's corrections of the breaks with
// the frames either side of one.

#include "app/ChartWindow.h"

#include "app/AppController.h"
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

ChartWindow::ChartWindow(AppController &controller, QWidget *parent)
    : QMainWindow(parent), m_controller(controller), m_ui(std::make_unique<Ui::GraphWindow>())
{
    m_ui->setupUi(this);
    createActions();
    setUpChart();
    connectChart();
    nameControls();
}

ChartWindow::~ChartWindow()
{
    // The controller may outlive the window: it no longer reaches it. The
    // filter goes first: the pane sends events while it is torn down.
    disconnect(&m_controller, nullptr, this, nullptr);
    if (m_viewport)
        m_viewport->removeEventFilter(this);
}

void ChartWindow::setUpChart()
{
    // The chart view is made here so that its logical space follows the
    // size it is created with.
    QScrollArea *scroll = m_ui->graphScrollArea;
    m_graph = new VideoGraph(QSizeF(900, 450));
    delete scroll->takeWidget();
    scroll->setWidget(m_graph);
    m_viewport = scroll->viewport();
    m_viewport->installEventFilter(this);
    connect(m_graph, &VideoGraph::dataFileChanged, m_ui->mGraphFileText, &QLabel::setText);
    connect(m_graph, &VideoGraph::lengthsChanged, this, [this](const QString &before, const QString &after) {
        m_ui->mShowLengthOld->setText(before);
        m_ui->mShowLengthNew->setText(after);
    });
    m_tableModel = new CommercialTableModel(this);
    connect(m_graph, &VideoGraph::commercialsReloaded, m_tableModel, [this] {
        const SharedCommercials list = m_graph->commercialList();
        m_tableModel->setCommercials(list ? *list : CommercialList(), m_graph->framesPerSecond(),
                                     m_graph->frameCount());
    });
    m_graph->setLabelsInOrder(labelOrder());
    m_ui->mCommercialTable->setModel(m_tableModel);
    setUpEditing();
    setUpPreview();
    m_ui->mCommercialTable->verticalHeader()->hide();
    m_ui->mCommercialTable->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_ui->graphSplitter->setStretchFactor(0, 1);
    m_ui->graphSplitter->setSizes({800, 400});
    m_ui->reviewSplitter->setStretchFactor(0, 1);
    m_ui->reviewSplitter->setSizes({480, 320});
    connect(m_ui->mZoomSlider, &QSlider::valueChanged, m_graph, [this] { fitChart(); });
    m_graph->changeZoomSlider(m_ui->mZoomSlider->value());
    // Nothing is loading until a chart is asked for.
    m_ui->mGraphProgressIndicator->hide();
    m_ui->graphScrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_noCommercials = new QLabel(tr("No commercials found."), m_ui->mCommercialTable->viewport());
    m_noCommercials->setAlignment(Qt::AlignCenter);
    m_noCommercials->setAccessibleName(QStringLiteral("No commercials found"));
    m_noCommercials->hide();
    connect(m_tableModel, &QAbstractItemModel::modelReset, this, &ChartWindow::updateEmptyTable);
    connect(m_tableModel, &QAbstractItemModel::rowsInserted, this, &ChartWindow::updateEmptyTable);
    connect(m_tableModel, &QAbstractItemModel::rowsRemoved, this, &ChartWindow::updateEmptyTable);
}

void ChartWindow::connectChart()
{
    AppController &c = m_controller;
    connect(&c, &AppController::chartRequested, this, [this] {
        show();
        raise();
        activateWindow();
    });
    connect(&c, &AppController::chartChanged, this, &ChartWindow::showChart);
    connect(&c, &AppController::chartCleared, this, &ChartWindow::clearChart);
    connect(&c, &AppController::commercialsChanged, m_graph, &VideoGraph::commercialsChanged);
}

void ChartWindow::showChart()
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

void ChartWindow::clearChart()
{
    m_graph->setData(nullptr, VideoGraph::DataSize{0, 0}, nullptr);
    m_graph->setDataFrames(0, 0.0f, 0.0f, QStringList(), nullptr);
    m_graph->setDataFile(QString());
    m_graph->update();
}

void ChartWindow::createActions()
{
    m_undo = m_controller.review().undoStack();
    m_undoAction = m_undo->createUndoAction(this, tr("Undo"));
    m_undoAction->setShortcut(QKeySequence::Undo);
    m_redoAction = m_undo->createRedoAction(this, tr("Redo"));
    m_redoAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+Z")));
    addAction(m_undoAction);
    addAction(m_redoAction);
}

void ChartWindow::setUpEditing()
{
    Ui::GraphWindow &g = *m_ui;
    g.undoButton->setDefaultAction(m_undoAction);
    g.redoButton->setDefaultAction(m_redoAction);

    connect(m_tableModel, &CommercialTableModel::editRequested, this,
            [this](const CommercialList &after, const QString &text) {
                if (m_controller.runInProgress()) {
                    m_ui->mGraphStatusText->setText(
                        tr("The breaks cannot change while a run is in progress."));
                    return;
                }
                m_ui->mGraphStatusText->setText(text + QLatin1Char('.'));
                m_controller.review().edit(m_tableModel->rows(), after, text);
            });
    connect(m_tableModel, &CommercialTableModel::editRejected, g.mGraphStatusText, &QLabel::setText);
    connect(g.deleteBreakButton, &QPushButton::clicked, this, [this] {
        const QModelIndex current = m_ui->mCommercialTable->currentIndex();
        if (current.isValid())
            m_tableModel->removeBreak(current.row());
    });
    connect(g.addBreakButton, &QPushButton::clicked, this, &ChartWindow::addBreak);
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

void ChartWindow::setUpPreview()
{
    m_review = new EdgeReview(m_controller, *m_tableModel, *m_ui, this);
    QItemSelectionModel *cursor = m_ui->mCommercialTable->selectionModel();
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
                    m_ui->mCommercialTable->setCurrentIndex(m_tableModel->index(m_selectedRow, 0));
                else
                    m_review->showBreak(-1);
            },
            Qt::QueuedConnection);
    });
    connect(m_graph, &VideoGraph::frameClicked, m_review, &EdgeReview::showFrame);
}

void ChartWindow::showBoundary(int row)
{
    // A reset of the table passes through no row at all; the row the user
    // was on is kept for it.
    if (row >= 0) {
        m_selectedRow = row;
        m_review->showBreak(row);
    }
}

void ChartWindow::addBreak()
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
        m_ui->mGraphStatusText->setText(tr("There is no room for another break."));
        return;
    }
    const int start = bestFrom + (bestTo - bestFrom - length) / 2;
    m_tableModel->addBreak(start, start + length - 1);
}

QStringList ChartWindow::labelOrder()
{
    QStringList order;
    for (const QVariant &v : readPropertyList(QStringLiteral(":/settings/labelOrder.plist")).toList())
        if (v.typeId() == QMetaType::QString)
            order.append(v.toString());
    return order;
}

void ChartWindow::fitChart()
{
    const double wanted = double(m_ui->mZoomSlider->value()) / 100.0;
    const double width = m_graph->bounds().width();
    const double fit = width > 0 && m_viewport ? double(m_viewport->width()) / width : wanted;
    m_graph->setZoom(float(std::max(wanted, fit)));
    m_graph->update();
}

void ChartWindow::updateEmptyTable()
{
    QTableView *table = m_ui->mCommercialTable;
    const bool empty = m_tableModel->rowCount() == 0 && m_controller.haveResults();
    m_noCommercials->setGeometry(table->viewport()->rect());
    m_noCommercials->setVisible(empty);
}

bool ChartWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_ui->mCommercialTable && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        const QModelIndex current = m_ui->mCommercialTable->currentIndex();
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
    return QMainWindow::eventFilter(watched, event);
}

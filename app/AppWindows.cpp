#include "app/AppWindows.h"

#include "app/AppController.h"
#include "app/DesktopNotification.h"
#include "app/FramePreview.h"
#include "chart/CommercialTableModel.h"
#include "chart/VideoGraph.h"
#include "core/PropertyList.h"
#include "progress/ProgressIndicator.h"
#include "ui_GraphWindow.h"
#include "ui_MainWindow.h"

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPixmap>
#include <QProgressBar>
#include <QShortcut>
#include <QTableView>
#include <QToolButton>
#include <QUndoStack>
#include <QUrl>

#include <QMessageBox>
#include <QMimeData>
#include <QResizeEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <algorithm>

AppWindows::AppWindows(AppController &controller, QObject *parent)
    : QObject(parent),
      m_controller(controller),
      m_main(new QMainWindow),
      m_graphWindow(new QMainWindow),
      m_ui(std::make_unique<Ui::MainWindow>()),
      m_graphUi(std::make_unique<Ui::GraphWindow>())
{
    m_ui->setupUi(m_main);
    m_graphUi->setupUi(m_graphWindow);
    m_main->setAttribute(Qt::WA_DeleteOnClose, false);
    m_main->setAcceptDrops(true);
    m_main->installEventFilter(this);

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
    m_graphUi->mCommercialTable->verticalHeader()->hide();
    m_graphUi->mCommercialTable->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_graphUi->graphSplitter->setStretchFactor(0, 1);
    m_graphUi->graphSplitter->setSizes({800, 400});
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

    AppController &c = m_controller;
    c.graph = m_graph;
    c.mMainWindow = m_main;
    c.mGraphWindow = m_graphWindow;
    c.mInputField = m_ui->mInputField;
    c.mOutputField = m_ui->mOutputField;
    c.mDetectActionButton = m_ui->mDetectActionButton;
    c.mDetectProgressIndicator = m_ui->mDetectProgressIndicator;
    c.mDetectPercentTextField = m_ui->mDetectPercentTextField;
    c.mDetectRemainingTextField = m_ui->mDetectRemainingTextField;
    c.mRemoveActionButton = m_ui->mRemoveActionButton;
    c.mRemoveProgressIndicator = m_ui->mRemoveProgressIndicator;
    c.mRemovePercentTextField = m_ui->mRemovePercentTextField;
    c.mRemoveRemainingTextField = m_ui->mRemoveRemainingTextField;
    c.mAutoActionButton = m_ui->mAutoActionButton;
    c.mStatusField = m_ui->mStatusField;
    c.mDetectBlackFrame = m_ui->mDetectBlackFrame;
    c.mDetectStationLogo = m_ui->mDetectStationLogo;
    c.mDetectSceneChange = m_ui->mDetectSceneChange;
    c.mDetectResolutionChange = m_ui->mDetectResolutionChange;
    c.mDetectClosedCaptions = m_ui->mDetectClosedCaptions;
    c.mDetectAspectRatio = m_ui->mDetectAspectRatio;
    c.mDetectSilence = m_ui->mDetectSilence;
    c.mDetectCutscenes = m_ui->mDetectCutscenes;
    c.mOptionHasTickertape = m_ui->mOptionHasTickertape;
    c.mOptionDeleteBefore = m_ui->mOptionDeleteBefore;
    c.mOptionDeleteAfter = m_ui->mOptionDeleteAfter;
    c.mOptionLogoAtBottom = m_ui->mOptionLogoAtBottom;
    c.mRemoveNoSkip = m_ui->mRemoveNoSkip;
    c.mRemoveEDLSeek = m_ui->mRemoveEDLSeek;
    c.mAutoDetect = m_ui->mAutoDetect;
    c.mAutoRemove = m_ui->mAutoRemove;
    c.mAutoClean = m_ui->mAutoClean;
    c.mLastCheckedMessage = m_ui->mLastCheckedMessage;
    c.mRecordingInfoField = m_ui->mRecordingInfoField;

    for (QPushButton *b : {m_ui->mAutoActionButton, m_ui->mDetectActionButton, m_ui->mRemoveActionButton})
        connect(b, &QPushButton::clicked, &c, [&c, b] { c.performButtonAction(b); });
    connect(m_ui->browseInputButton, &QPushButton::clicked, &c,
            [&c, this] { c.browseInputFile(m_ui->browseInputButton); });
    connect(m_ui->browseOutputButton, &QPushButton::clicked, &c,
            [&c, this] { c.browseOutputFile(m_ui->browseOutputButton); });
    connect(m_ui->cleanButton, &QPushButton::clicked, &c, [&c, this] { c.clean(m_ui->cleanButton); });
    connect(m_ui->graphButton, &QPushButton::clicked, &c, [&c, this] { c.graphAction(m_ui->graphButton); });

    for (auto signal : {&AppController::haveInputChanged, &AppController::haveResultsChanged,
                        &AppController::haveCommercialsChanged, &AppController::isRunningChanged,
                        &AppController::isRunningAutoChanged})
        connect(&c, signal, this, &AppWindows::updateControls);
    connect(&c, &AppController::buttonsChanged, this, &AppWindows::updateControls);
    connect(&c, &AppController::workFilesChanged, this, &AppWindows::updateControls);
    connect(m_ui->showCopyButton, &QPushButton::clicked, this, [this] {
        QDesktopServices::openUrl(
            QUrl::fromLocalFile(QFileInfo(m_controller.settledOutput()).absolutePath()));
    });
    connect(m_ui->playCopyButton, &QPushButton::clicked, this,
            [this] { QDesktopServices::openUrl(QUrl::fromLocalFile(m_controller.settledOutput())); });
    connect(m_ui->mOutputField, &QLineEdit::textChanged, this, &AppWindows::updateControls);
    // The window's title follows the running step, for the task bar.
    for (QProgressBar *bar : {m_ui->mDetectProgressIndicator, m_ui->mRemoveProgressIndicator})
        connect(bar, &QProgressBar::valueChanged, this, &AppWindows::updateTitle);
    connect(&c, &AppController::isRunningChanged, this, &AppWindows::updateTitle);
    connect(&c, &AppController::isRunningAutoChanged, this, &AppWindows::updateTitle);
    connect(&c, &AppController::runEnded, this, &AppWindows::notifyRunEnded);
    nameControls();
    // As tall as its contents: no empty band under the status line.
    m_main->resize(m_main->width(), m_main->sizeHint().height());
    c.setConfirm([this](const QString &question) {
        return QMessageBox::question(m_main, QStringLiteral("Trimlet"), question,
                                     QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
               == QMessageBox::Yes;
    });
    updateControls();
}

AppWindows::~AppWindows()
{
    // The controller may outlive the windows; its outlets are guarded. The
    // filters go first: the windows send events while they are torn down.
    if (m_viewport)
        m_viewport->removeEventFilter(this);
    m_main->removeEventFilter(this);
    delete m_graphWindow;
    delete m_main;
}

void AppWindows::updateControls()
{
    const AppController &c = m_controller;
    const bool running = c.isRunning() || c.isRunningAuto();
    const auto stopping = [&c](const QPushButton *b) { return c.buttonStops(b); };
    // A run's own button stays live to stop it; nothing else may start one.
    m_ui->mAutoActionButton->setEnabled(stopping(m_ui->mAutoActionButton) || (!running && c.haveInput()));
    m_ui->mDetectActionButton->setEnabled(stopping(m_ui->mDetectActionButton) || (!running && c.haveInput()));
    m_ui->mRemoveActionButton->setEnabled(stopping(m_ui->mRemoveActionButton)
                                          || (!running && c.haveCommercials()));
    m_ui->cleanButton->setEnabled(!running && c.haveWorkFiles());
    const QString copy = c.settledOutput();
    const bool haveCopy = !running && !copy.isEmpty() && QFileInfo(copy).isFile();
    m_ui->showCopyButton->setEnabled(haveCopy);
    m_ui->playCopyButton->setEnabled(haveCopy);
    if (m_stopShortcut)
        m_stopShortcut->setEnabled(running);
    m_ui->browseInputButton->setEnabled(!running);
    m_ui->browseOutputButton->setEnabled(!running);
    m_ui->mOutputField->setReadOnly(running);
    m_ui->graphButton->setEnabled(c.haveResults() && !running);
    // The settings are read when a step starts; changing them mid-run
    // would do nothing, so they say so.
    for (QWidget *w :
         {static_cast<QWidget *>(m_ui->detectGroup), static_cast<QWidget *>(m_ui->optionsGroup),
          static_cast<QWidget *>(m_ui->mRemoveNoSkip), static_cast<QWidget *>(m_ui->mRemoveEDLSeek),
          static_cast<QWidget *>(m_ui->mAutoDetect), static_cast<QWidget *>(m_ui->mAutoRemove),
          static_cast<QWidget *>(m_ui->mAutoClean)})
        w->setEnabled(!running);
}

namespace {

// What assistive technology announces for a control, and more about it.
struct AccessibleName
{
    QWidget *widget;
    const char *name;
    const char *description = nullptr;
};

void nameAll(std::initializer_list<AccessibleName> names)
{
    for (const AccessibleName &n : names) {
        n.widget->setAccessibleName(QString::fromUtf8(n.name));
        if (n.description)
            n.widget->setAccessibleDescription(QString::fromUtf8(n.description));
    }
}

// One edit of the break list, undone by putting the list back as it was.
class BreakEdit : public QUndoCommand
{
public:
    BreakEdit(AppController &c, CommercialList before, CommercialList after, const QString &text)
        : QUndoCommand(text), m_c(c), m_before(std::move(before)), m_after(std::move(after))
    { }
    void redo() override { m_c.applyBreaks(m_after); }
    void undo() override { m_c.applyBreaks(m_before); }

private:
    AppController &m_c;
    CommercialList m_before;
    CommercialList m_after;
};

} // namespace

void AppWindows::setUpEditing()
{
    Ui::GraphWindow &g = *m_graphUi;
    AppController &c = m_controller;
    m_undo = new QUndoStack(this);
    m_preview = new FramePreview(c.toolLocator(), this);
    QAction *undo = m_undo->createUndoAction(this, tr("Undo"));
    undo->setShortcut(QKeySequence::Undo);
    QAction *redo = m_undo->createRedoAction(this, tr("Redo"));
    redo->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+Z")));
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
    connect(g.mCommercialTable->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex &current) { showBoundary(current.row()); });
    connect(m_tableModel, &QAbstractItemModel::modelReset, this, [this] {
        // The cursor stays on the break it was on.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (m_selectedRow >= 0 && m_selectedRow < m_tableModel->rowCount())
                    m_graphUi->mCommercialTable->setCurrentIndex(m_tableModel->index(m_selectedRow, 0));
            },
            Qt::QueuedConnection);
    });
    connect(m_graph, &VideoGraph::breakEdgeDragged, m_tableModel, &CommercialTableModel::moveEdge);
    connect(m_graph, &VideoGraph::breakDrawn, m_tableModel, &CommercialTableModel::addBreak);
    connect(m_graph, &VideoGraph::frameClicked, this, [this](int frame) {
        const float fps = m_graph->framesPerSecond();
        if (!(fps > 0))
            return;
        m_preview->setRecording(m_controller.movieFile());
        m_beforeSeconds = -1;
        m_firstSeconds = double(frame) / double(fps);
        m_graphUi->firstFrameCaption->setText(
            tr("Frame at %1").arg(VideoGraph::formatTime(m_firstSeconds, true)));
        m_graphUi->firstFrameView->setText(tr("…"));
        m_preview->request(m_firstSeconds);
    });
    connect(m_preview, &FramePreview::ready, this, [this](double seconds, const QImage &image) {
        QLabel *view = qAbs(seconds - m_beforeSeconds) < 1e-6  ? m_graphUi->beforeFrameView
                       : qAbs(seconds - m_firstSeconds) < 1e-6 ? m_graphUi->firstFrameView
                                                               : nullptr;
        if (!view)
            return;
        view->setPixmap(QPixmap::fromImage(image).scaled(view->width(), view->height(), Qt::KeepAspectRatio,
                                                         Qt::SmoothTransformation));
        if (image.isNull())
            view->setText(tr("No picture"));
    });
    nameAll({
        {g.addBreakButton, "Add break"},
        {g.deleteBreakButton, "Delete break"},
        {g.undoButton, "Undo"},
        {g.redoButton, "Redo"},
        {g.revertButton, "Revert to detection"},
        {g.beforeFrameView, "Last frame before the break"},
        {g.firstFrameView, "First frame of the break"},
    });
}

void AppWindows::showBoundary(int row)
{
    // A reset of the table passes through no row at all; the row the user
    // was on is kept for it.
    if (row >= 0)
        m_selectedRow = row;
    const CommercialList &rows = m_tableModel->rows();
    const float fps = m_graph->framesPerSecond();
    if (row < 0 || row >= rows.size() || !(fps > 0))
        return;
    m_preview->setRecording(m_controller.movieFile());
    m_graphUi->firstFrameCaption->setText(tr("First frame of the break"));
    const int start = rows.at(row).start;
    m_beforeSeconds = double(qMax(0, start - 1)) / double(fps);
    m_firstSeconds = double(start) / double(fps);
    m_graphUi->beforeFrameView->setText(tr("…"));
    m_graphUi->firstFrameView->setText(tr("…"));
    m_preview->request(m_firstSeconds);
    m_preview->request(m_beforeSeconds);
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

void AppWindows::nameControls()
{
    Ui::MainWindow &u = *m_ui;
    // What assistive technology announces: every control by what it is
    // for, not by the title it shares with others ("Run", "Choose…").
    nameAll({
        {u.mInputField, "Recording", "The recording to take the commercials out of"},
        {u.browseInputButton, "Choose recording", "Choose the recording in a file dialog (Ctrl+O)"},
        {u.mRecordingInfoField, "Recording streams", "The recording's video and sound, and its length"},
        {u.mOutputField, "Cut copy", "Where the copy without the commercials is written"},
        {u.browseOutputButton, "Choose cut copy", "Choose where the cut copy goes in a file dialog"},
        {u.mDetectActionButton, "Run detection", "Find the commercials with comskip (Alt+D)"},
        {u.mDetectProgressIndicator, "Detection progress", "How far detection has got"},
        {u.mDetectPercentTextField, "Detection percent", "Detection's progress in percent"},
        {u.mDetectRemainingTextField, "Detection time", "Time left, or time taken, for detection"},
        {u.mRemoveActionButton, "Run removal", "Cut the commercials out into the cut copy (Alt+M)"},
        {u.mRemoveProgressIndicator, "Removal progress", "How far the cut has got"},
        {u.mRemovePercentTextField, "Removal percent", "The cut's progress in percent"},
        {u.mRemoveRemainingTextField, "Removal time", "Time left, or time taken, for the cut"},
        {u.mAutoActionButton, "Run all chosen steps",
         "Run the steps ticked beside it, one after another (Ctrl+R)"},
        {u.mAutoDetect, "Automatic run: detect", "The automatic run detects the commercials"},
        {u.mAutoRemove, "Automatic run: remove", "The automatic run cuts the commercials out"},
        {u.mAutoClean, "Automatic run: erase work files",
         "The automatic run erases the work files at its end"},
        {u.mStatusField, "Status", "What the last run did, or what is running"},
        {u.cleanButton, "Erase work files", "Erase the detector's files beside the recording (Alt+E)"},
        {u.graphButton, "Show chart", "Show what the detector measured, with the commercials (Alt+C)"},
        {u.showCopyButton, "Show cut copy in folder", "Open the folder holding the cut copy"},
        {u.playCopyButton, "Play cut copy", "Play the cut copy with the desktop's video player"},
        {u.mLastCheckedMessage, "Package lists last refreshed", "When the package lists were last refreshed"},
        {u.mRemoveNoSkip, "Copy every frame", "mencoder's -noskip -mc 0"},
        {u.mRemoveEDLSeek, "Precise cut seeking", "mencoder's -hr-edl-seek"},
        {u.filesGroup, "Files", "The recording and its cut copy"},
        {u.stepsGroup, "Steps", "Detection, removal and the automatic run"},
    });
    // Check boxes are named by their own text.
    for (QCheckBox *box : m_main->findChildren<QCheckBox *>())
        if (box->accessibleName().isEmpty())
            box->setAccessibleName(box->text());
    // Mnemonics without touching the titles, which read exactly "Run" and "Stop".
    u.mDetectActionButton->setShortcut(QKeySequence(QStringLiteral("Alt+D")));
    u.mRemoveActionButton->setShortcut(QKeySequence(QStringLiteral("Alt+M")));
    u.cleanButton->setShortcut(QKeySequence(QStringLiteral("Alt+E")));
    u.graphButton->setShortcut(QKeySequence(QStringLiteral("Alt+C")));
    u.browseInputButton->setShortcut(QKeySequence::Open);
    u.mAutoActionButton->setShortcut(QKeySequence(QStringLiteral("Ctrl+R")));
    u.inputLabel->setBuddy(u.mInputField);
    u.outputLabel->setBuddy(u.mOutputField);
    m_stopShortcut = new QShortcut(QKeySequence(Qt::Key_Escape), m_main);
    connect(m_stopShortcut, &QShortcut::activated, this, [this] {
        for (QPushButton *b : {m_ui->mAutoActionButton, m_ui->mDetectActionButton, m_ui->mRemoveActionButton})
            if (m_controller.buttonStops(b)) {
                m_controller.performButtonAction(b);
                return;
            }
    });

    Ui::GraphWindow &g = *m_graphUi;
    nameAll({
        {g.mGraphFileText, "Charted recording", "The recording whose detection data is shown"},
        {g.mGraphProgressIndicator, "Chart progress", "Busy while the chart is drawn"},
        {g.graphScrollArea, "Detection chart",
         "What the detector measured frame by frame, with the commercials over it"},
        {m_graph, "Detection chart",
         "What the detector measured frame by frame, with the commercials over it"},
        {g.mCommercialTable, "Commercials", "The commercials found, with their start, end and length"},
        {g.mShowLengthOld, "Length with commercials", "The programme's length before cutting"},
        {g.mShowLengthNew, "Length without commercials", "The programme's length after cutting"},
        {g.mZoomSlider, "Zoom", "How far the chart is stretched in time"},
        {g.mGraphStatusText, "Chart status", "What the chart shows"},
    });
    for (QHeaderView *header : m_graphWindow->findChildren<QHeaderView *>())
        header->setAccessibleName(header->orientation() == Qt::Horizontal
                                      ? QStringLiteral("Commercials: column headers")
                                      : QStringLiteral("Commercials: row headers"));
    for (QAbstractButton *corner : m_graphUi->mCommercialTable->findChildren<QAbstractButton *>())
        corner->setAccessibleName(QStringLiteral("Commercials: select all"));
    // Scroll bars are named after what they scroll.
    for (QWidget *window : {static_cast<QWidget *>(m_main), static_cast<QWidget *>(m_graphWindow)})
        for (QScrollBar *bar : window->findChildren<QScrollBar *>()) {
            QWidget *owner = bar->parentWidget();
            while (owner && owner->accessibleName().isEmpty())
                owner = owner->parentWidget();
            const QString what = owner ? owner->accessibleName() : QStringLiteral("View");
            bar->setAccessibleName(what
                                   + (bar->orientation() == Qt::Horizontal
                                          ? QStringLiteral(": horizontal scroll bar")
                                          : QStringLiteral(": vertical scroll bar")));
        }
}

void AppWindows::updateTitle()
{
    const AppController &c = m_controller;
    QString title = QStringLiteral("Trimlet");
    if (c.isRunning() || c.isRunningAuto()) {
        const ProgressIndicator *row = c.activeProgressIndicator();
        QProgressBar *bar =
            row == c.removeIndicator() ? m_ui->mRemoveProgressIndicator : m_ui->mDetectProgressIndicator;
        const QString step =
            row == c.removeIndicator() ? QStringLiteral("Cutting") : QStringLiteral("Detecting");
        if (bar->maximum() > bar->minimum() && bar->value() > bar->minimum())
            title = QStringLiteral("%1 %2% – Trimlet").arg(step).arg(bar->value());
        else
            title = step + QStringLiteral("… – Trimlet");
    }
    m_main->setWindowTitle(title);
}

void AppWindows::notifyRunEnded(const QString &outcome)
{
    // Only someone looking elsewhere needs telling.
    if (m_main->isActiveWindow() || m_graphWindow->isActiveWindow())
        return;
    DesktopNotification::send(QStringLiteral("Trimlet"), outcome);
}

void AppWindows::openFromCommandLine(const QStringList &arguments)
{
    if (arguments.size() > 1 && !arguments.at(1).startsWith(QLatin1Char('-')))
        m_controller.openRecording(QFileInfo(arguments.at(1)).absoluteFilePath());
}

bool AppWindows::eventFilter(QObject *watched, QEvent *event)
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
    }
    if (watched == m_main && event->type() == QEvent::Close) {
        // A run is never left to run on, or cut short, without a word; and
        // the chart window never outlives the main one.
        if (m_controller.runInProgress()) {
            if (!m_controller.confirm(QStringLiteral("A run is in progress. Stop it and quit?"))) {
                event->ignore();
                return true;
            }
            m_controller.stopForQuit();
        }
        m_graphWindow->close();
        return false;
    }
    if (watched == m_viewport && event->type() == QEvent::Resize) {
        // The chart fills the height; its width is the zoom's, and never
        // less than the pane's, so a chart that fits needs no scroll bar.
        m_graph->resize(m_graph->width(), static_cast<QResizeEvent *>(event)->size().height());
        fitChart();
    } else if (watched == m_main && event->type() == QEvent::DragEnter) {
        auto *drag = static_cast<QDragEnterEvent *>(event);
        const QList<QUrl> urls = drag->mimeData()->urls();
        if (urls.size() == 1 && urls.first().isLocalFile() && !m_controller.isRunning()
            && !m_controller.isRunningAuto())
            drag->acceptProposedAction();
        return true;
    } else if (watched == m_main && event->type() == QEvent::Drop) {
        auto *drop = static_cast<QDropEvent *>(event);
        const QList<QUrl> urls = drop->mimeData()->urls();
        if (urls.size() == 1 && urls.first().isLocalFile() && !m_controller.isRunning()
            && !m_controller.isRunningAuto()) {
            m_controller.openRecording(QFileInfo(urls.first().toLocalFile()).absoluteFilePath());
            drop->acceptProposedAction();
        }
        return true;
    }
    return QObject::eventFilter(watched, event);
}

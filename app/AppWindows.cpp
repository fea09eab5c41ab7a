#include "app/AppWindows.h"

#include "app/AppController.h"
#include "chart/CommercialTableModel.h"
#include "chart/VideoGraph.h"
#include "ui_GraphWindow.h"
#include "ui_MainWindow.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QMainWindow>
#include <QMessageBox>
#include <QMimeData>
#include <QResizeEvent>
#include <QScrollArea>
#include <QScrollBar>

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
    m_tableModel = new CommercialTableModel(m_graph, this);
    m_graphUi->mCommercialTable->setModel(m_tableModel);
    m_graphUi->mCommercialTable->verticalHeader()->hide();
    m_graphUi->mCommercialTable->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_graphUi->graphSplitter->setStretchFactor(0, 1);
    m_graphUi->graphSplitter->setSizes({800, 400});
    connect(m_graphUi->mZoomSlider, &QSlider::valueChanged, m_graph,
            [this] { m_graph->changeZoomSlider(m_graphUi->mZoomSlider); });
    m_graph->changeZoomSlider(m_graphUi->mZoomSlider);

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
    connect(m_ui->graphButton, &QPushButton::clicked, &c,
            [&c, this] { c.graphAction(m_ui->graphButton); });

    for (auto signal : {&AppController::haveInputChanged, &AppController::haveResultsChanged,
                        &AppController::haveCommercialsChanged, &AppController::isRunningChanged,
                        &AppController::isRunningAutoChanged})
        connect(&c, signal, this, &AppWindows::updateControls);
    connect(&c, &AppController::buttonsChanged, this, &AppWindows::updateControls);
    connect(&c, &AppController::workFilesChanged, this, &AppWindows::updateControls);
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
    const auto stopping = [](const QPushButton *b) { return b->text() == QStringLiteral("Stop"); };
    // A run's own button stays live to stop it; nothing else may start one.
    m_ui->mAutoActionButton->setEnabled(stopping(m_ui->mAutoActionButton) || (!running && c.haveInput()));
    m_ui->mDetectActionButton->setEnabled(stopping(m_ui->mDetectActionButton)
                                          || (!running && c.haveInput()));
    m_ui->mRemoveActionButton->setEnabled(stopping(m_ui->mRemoveActionButton)
                                          || (!running && c.haveCommercials()));
    m_ui->cleanButton->setEnabled(!running && c.haveWorkFiles());
    m_ui->browseInputButton->setEnabled(!running);
    m_ui->browseOutputButton->setEnabled(!running);
    m_ui->mOutputField->setReadOnly(running);
    m_ui->graphButton->setEnabled(c.haveResults() && !running);
    // The settings are read when a step starts; changing them mid-run
    // would do nothing, so they say so.
    for (QWidget *w : {static_cast<QWidget *>(m_ui->detectGroup), static_cast<QWidget *>(m_ui->optionsGroup),
                       static_cast<QWidget *>(m_ui->mRemoveNoSkip), static_cast<QWidget *>(m_ui->mRemoveEDLSeek),
                       static_cast<QWidget *>(m_ui->mAutoDetect), static_cast<QWidget *>(m_ui->mAutoRemove),
                       static_cast<QWidget *>(m_ui->mAutoClean)})
        w->setEnabled(!running);
}

void AppWindows::openFromCommandLine(const QStringList &arguments)
{
    if (arguments.size() > 1 && !arguments.at(1).startsWith(QLatin1Char('-')))
        m_controller.openRecording(QFileInfo(arguments.at(1)).absoluteFilePath());
}

bool AppWindows::eventFilter(QObject *watched, QEvent *event)
{
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
        // The chart fills the height; its width is the zoom's.
        m_graph->resize(m_graph->width(), static_cast<QResizeEvent *>(event)->size().height());
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

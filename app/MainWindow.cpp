// The main window: it mirrors the controller's values into its controls
// and hands back what the user does.

#include "app/MainWindow.h"

#include "app/CheckBoxes.h"
#include "app/DesktopNotification.h"
#include "app/QueuePanel.h"
#include "core/PathText.h"
#include "jobs/RawNames.h"
#include "progress/ProgressIndicator.h"
#include "ui_MainWindow.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QSettings>
#include <QShortcut>
#include <QUrl>

namespace {

// The output modes as the settings file keeps them, in the combo box's order:
// the output modes' own, then the cut copy in the recording's place.
const QStringList kOutputModeKeys{QStringLiteral("cut"), QStringLiteral("chapters"),
                                  QStringLiteral("skip-list"), QStringLiteral("replace")};
const int kReplaceIndex = 3;
const QString kOutputModeSetting = QStringLiteral("outputMode");

} // namespace

MainWindow::MainWindow(AppController &controller, QMainWindow *chart, QWidget *parent)
    : QMainWindow(parent), m_controller(controller), m_chart(chart), m_ui(std::make_unique<Ui::MainWindow>())
{
    installAccessibleFactories();
    m_ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose, false);
    setAcceptDrops(true);
    m_detectRow = std::make_unique<ProgressIndicator>(
        m_ui->mDetectProgressIndicator, m_ui->mDetectPercentTextField, m_ui->mDetectRemainingTextField);
    m_removeRow = std::make_unique<ProgressIndicator>(
        m_ui->mRemoveProgressIndicator, m_ui->mRemovePercentTextField, m_ui->mRemoveRemainingTextField);

    connectButtons();
    mirrorController();
    connectRows();
    nameControls();
    nameQueueAndScrollBars();
    setUpSample();
    m_queue = std::make_unique<QueuePanel>(m_controller, *m_ui, this, m_chart);
    connect(m_queue.get(), &QueuePanel::changed, this, [this] {
        updateControls();
        showQueueProgress();
        nameValues();
        updateTitle();
    });
    // As tall as its contents: no empty band under the status line.
    resize(width(), sizeHint().height());
    m_controller.setConfirm([this](const QString &question) {
        return QMessageBox::question(this, QStringLiteral("Trimlet"), question,
                                     QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
               == QMessageBox::Yes;
    });
    updateControls();
}

MainWindow::~MainWindow()
{
    // The controller may outlive the window: it no longer reaches it.
    disconnect(&m_controller, nullptr, this, nullptr);
    m_queue.reset();
}

QPushButton *MainWindow::runButton(RunButton button) const
{
    switch (button) {
    case RunButton::Auto:
        return m_ui->mAutoActionButton;
    case RunButton::Detect:
        return m_ui->mDetectActionButton;
    case RunButton::Remove:
        break;
    }
    return m_ui->mRemoveActionButton;
}

ProgressIndicator *MainWindow::progressRow(Row row) const
{
    return row == Row::Remove ? m_removeRow.get() : m_detectRow.get();
}

void MainWindow::connectButtons()
{
    AppController &c = m_controller;
    for (RunButton b : {RunButton::Auto, RunButton::Detect, RunButton::Remove})
        connect(runButton(b), &QPushButton::clicked, &c, [&c, b] { c.performButtonAction(b); });
    connect(m_ui->browseInputButton, &QPushButton::clicked, this, &MainWindow::browseInputFile);
    connect(m_ui->browseOutputButton, &QPushButton::clicked, this, &MainWindow::browseOutputFile);
    connect(m_ui->cleanButton, &QPushButton::clicked, &c, [&c] { c.clean(); });
    connect(m_ui->graphButton, &QPushButton::clicked, &c, [&c] { c.graphAction(); });
    connect(m_ui->showCopyButton, &QPushButton::clicked, this, [this] {
        QDesktopServices::openUrl(
            QUrl::fromLocalFile(QFileInfo(m_controller.settledOutput()).absolutePath()));
    });
    connect(m_ui->playCopyButton, &QPushButton::clicked, this,
            [this] { QDesktopServices::openUrl(QUrl::fromLocalFile(m_controller.settledOutput())); });
    // Escape stops whatever runs.
    m_stopShortcut = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(m_stopShortcut, &QShortcut::activated, this, [this] {
        for (RunButton b : {RunButton::Auto, RunButton::Detect, RunButton::Remove})
            if (m_controller.buttonStops(b)) {
                m_controller.performButtonAction(b);
                return;
            }
    });
    // The options go to the controller as they change, so that whatever
    // asks for a run's request gets what the boxes say now.
    const auto handOver = [this] { m_controller.setRunOptions(runOptions()); };
    for (QCheckBox *box : findChildren<QCheckBox *>())
#if QT_VERSION >= QT_VERSION_CHECK(6, 7, 0)
        connect(box, &QCheckBox::checkStateChanged, this, handOver);
#else
        connect(box, &QCheckBox::stateChanged, this, handOver);
#endif
    handOver();
}

void MainWindow::mirrorController()
{
    AppController &c = m_controller;
    Ui::MainWindow &u = *m_ui;
    connect(&c, &AppController::statusChanged, u.mStatusField, &QLabel::setText);
    connect(&c, &AppController::recordingInfoTextChanged, u.mRecordingInfoField, &QLabel::setText);
    connect(&c, &AppController::lastCheckedChanged, u.mLastCheckedMessage, &QLabel::setText);
    // A name that is not UTF-8 as the queue shows it, "\xHH" for its bytes.
    const auto shown = [](const QString &path) { return rawnames::shown(rawnames::bytesOf(path)); };
    connect(&c, &AppController::chosenRecordingChanged, this,
            [this, shown](const QString &path) { m_ui->mInputField->setText(shown(path)); });
    // The user's typing goes to the controller, the controller's proposals
    // to the field; each stops where the text is already the same.
    connect(u.mOutputField, &QLineEdit::textChanged, &c, &AppController::setOutputText);
    connect(&c, &AppController::outputTextChanged, this, [this](const QString &text) {
        if (m_ui->mOutputField->text() != text)
            m_ui->mOutputField->setText(text);
    });
    u.mStatusField->setText(c.status());
    u.mRecordingInfoField->setText(c.recordingInfoText());
    u.mLastCheckedMessage->setText(c.lastChecked());
    u.mInputField->setText(shown(c.chosenRecording()));
    u.mOutputField->setText(c.outputText());
    // The output chosen is the one the next start offers; only the user's
    // own choice is remembered.
    const qsizetype saved = kOutputModeKeys.indexOf(QSettings().value(kOutputModeSetting).toString());
    if (saved > 0)
        c.setOutputMode(saved == kReplaceIndex ? RunRequest::Mode::Cut : RunRequest::Mode(saved),
                        saved == kReplaceIndex);
    connect(u.outputModeCombo, qOverload<int>(&QComboBox::activated), this, [this](int index) {
        m_controller.setOutputMode(index == kReplaceIndex ? RunRequest::Mode::Cut : RunRequest::Mode(index),
                                   index == kReplaceIndex);
        QSettings().setValue(kOutputModeSetting, kOutputModeKeys.value(index));
    });
    connect(&c, &AppController::outputModeChanged, this, &MainWindow::showOutputMode);
    // Read when the window opens; a queue row takes the one chosen when it
    // is added.
    u.mProfileCombo->addItems(AppController::profilesFound());
    connect(u.mProfileCombo, qOverload<int>(&QComboBox::activated), this, [this](int index) {
        m_controller.setProfile(index > 0 ? m_ui->mProfileCombo->itemText(index) : QString());
    });
    showOutputMode();

    for (auto signal : {&AppController::haveInputChanged, &AppController::haveResultsChanged,
                        &AppController::haveCommercialsChanged, &AppController::isRunningChanged,
                        &AppController::isRunningAutoChanged})
        connect(&c, signal, this, &MainWindow::updateControls);
    connect(&c, &AppController::buttonsChanged, this, &MainWindow::showButtonTitles);
    connect(&c, &AppController::buttonsChanged, this, &MainWindow::updateControls);
    connect(&c, &AppController::workFilesChanged, this, &MainWindow::updateControls);
    connect(&c, &AppController::outputTextChanged, this, &MainWindow::updateControls);
    // The window's title follows the running step, for the task bar.
    connect(&c, &AppController::isRunningChanged, this, &MainWindow::updateTitle);
    connect(&c, &AppController::isRunningAutoChanged, this, &MainWindow::updateTitle);
    connect(&c, &AppController::runEnded, this, &MainWindow::notifyRunEnded);
    showButtonTitles();
}

void MainWindow::connectRows()
{
    AppController &c = m_controller;
    connect(&c, &AppController::rowCleared, this, [this](Row row) { progressRow(row)->clear(); });
    connect(&c, &AppController::rowStarted, this, [this](Row row) {
        progressRow(row)->clear();
        progressRow(row)->start();
    });
    connect(&c, &AppController::rowProgress, this,
            [this](Row row, double percent) { progressRow(row)->setPercent(percent); });
    connect(&c, &AppController::rowFinished, this, [this](Row row, bool failed) {
        progressRow(row)->stop();
        if (failed)
            progressRow(row)->fail();
    });
    for (QProgressBar *bar : {m_ui->mDetectProgressIndicator, m_ui->mRemoveProgressIndicator})
        connect(bar, &QProgressBar::valueChanged, this, &MainWindow::updateTitle);
}

RunOptions MainWindow::runOptions() const
{
    const Ui::MainWindow &u = *m_ui;
    RunOptions o;
    const QCheckBox *methods[] = {u.mDetectBlackFrame,       u.mDetectStationLogo,    u.mDetectSceneChange,
                                  u.mDetectResolutionChange, u.mDetectClosedCaptions, u.mDetectAspectRatio,
                                  u.mDetectSilence,          u.mDetectCutscenes};
    for (int i = 0; i < 8; ++i)
        if (isOn(methods[i]))
            o.detectMethods += 1 << i;
    o.tickerTape = isOn(u.mOptionHasTickertape);
    o.deleteBefore = isOn(u.mOptionDeleteBefore);
    o.deleteAfter = isOn(u.mOptionDeleteAfter);
    o.logoAtBottom = isOn(u.mOptionLogoAtBottom);
    o.noSkip = isOn(u.mRemoveNoSkip);
    o.edlSeek = isOn(u.mRemoveEDLSeek);
    o.mencoderCutter = isOn(u.mRemoveWithMencoder);
    o.autoDetect = isOn(u.mAutoDetect);
    o.autoRemove = isOn(u.mAutoRemove);
    o.autoClean = isOn(u.mAutoClean);
    return o;
}

void MainWindow::showButtonTitles()
{
    for (RunButton b : {RunButton::Auto, RunButton::Detect, RunButton::Remove}) {
        const QString title = m_controller.buttonTitle(b);
        // The name goes first: the new title announces the name it then has.
        nameRunButton(b, title);
        runButton(b)->setText(title);
    }
}

void MainWindow::updateControls()
{
    const AppController &c = m_controller;
    // The queue's runs and the window's own never meet on one recording.
    const bool running = c.isRunning() || c.isRunningAuto() || (m_queue && m_queue->isRunning());
    // A run's own button stays live to stop it; nothing else may start one.
    m_ui->mAutoActionButton->setEnabled(c.buttonStops(RunButton::Auto) || (!running && c.haveInput()));
    m_ui->mDetectActionButton->setEnabled(c.buttonStops(RunButton::Detect) || (!running && c.haveInput()));
    m_ui->mRemoveActionButton->setEnabled(c.buttonStops(RunButton::Remove)
                                          || (!running && c.haveCommercials()));
    m_ui->cleanButton->setEnabled(!running && c.haveWorkFiles());
    const QString copy = c.settledOutput();
    const bool haveCopy = !running && !copy.isEmpty() && QFileInfo(copy).isFile();
    m_ui->showCopyButton->setEnabled(haveCopy);
    m_ui->playCopyButton->setEnabled(haveCopy && c.outputMode() != RunRequest::Mode::SkipList);
    if (m_stopShortcut)
        m_stopShortcut->setEnabled(running);
    m_ui->browseInputButton->setEnabled(!running);
    m_ui->mTrySampleAction->setEnabled(!running);
    // A skip list lies under the recording's own name, where players look.
    const bool skipList = c.outputMode() == RunRequest::Mode::SkipList;
    m_ui->browseOutputButton->setEnabled(!running && !skipList);
    m_ui->mOutputField->setReadOnly(running || skipList);
    m_ui->outputModeCombo->setEnabled(!running);
    m_ui->mProfileCombo->setEnabled(!running);
    m_ui->graphButton->setEnabled(c.haveResults() && !running);
    // The settings are read when a step starts; changing them mid-run
    // would do nothing, so they say so.
    for (QWidget *w :
         {static_cast<QWidget *>(m_ui->detectGroup), static_cast<QWidget *>(m_ui->optionsGroup),
          static_cast<QWidget *>(m_ui->mRemoveNoSkip), static_cast<QWidget *>(m_ui->mRemoveEDLSeek),
          static_cast<QWidget *>(m_ui->mRemoveWithMencoder), static_cast<QWidget *>(m_ui->mAutoDetect),
          static_cast<QWidget *>(m_ui->mAutoRemove), static_cast<QWidget *>(m_ui->mAutoClean)})
        w->setEnabled(!running);
}

void MainWindow::showQueueProgress()
{
    if (!m_queue->isRunning()) {
        if (m_queueDetectRow)
            m_detectRow->stop();
        if (m_queueCutRow)
            m_removeRow->stop();
        m_queueRows = m_queueDetectRow = m_queueCutRow = false;
        return;
    }
    if (!m_queueRows) {
        m_detectRow->clear();
        m_removeRow->clear();
        m_queueRows = true;
    }
    const QueuePanel::StepProgress p = m_queue->stepProgress();
    if (p.detect && *p.detect < 1 && !m_queueDetectRow) {
        m_detectRow->start();
        m_queueDetectRow = true;
    }
    if (p.detect && m_queueDetectRow)
        m_detectRow->setPercent(*p.detect * 100);
    if (p.cut && !m_queueCutRow) {
        m_removeRow->start();
        m_queueCutRow = true;
    }
    if (p.cut && m_queueCutRow)
        m_removeRow->setPercent(*p.cut * 100);
}

void MainWindow::updateTitle()
{
    const AppController &c = m_controller;
    QString title = QStringLiteral("Trimlet");
    if (m_queue && m_queue->isRunning()) {
        title = m_queue->progressText() + QStringLiteral(" – Trimlet");
    } else if (c.isRunning() || c.isRunningAuto()) {
        const bool cutting = c.activeRow() == Row::Remove;
        QProgressBar *bar = cutting ? m_ui->mRemoveProgressIndicator : m_ui->mDetectProgressIndicator;
        const QString step = cutting ? QStringLiteral("Cutting") : QStringLiteral("Detecting");
        if (bar->maximum() > bar->minimum() && bar->value() > bar->minimum())
            title = QStringLiteral("%1 %2% – Trimlet").arg(step).arg(bar->value());
        else
            title = step + QStringLiteral("… – Trimlet");
    }
    setWindowTitle(title);
}

void MainWindow::notifyRunEnded(const QString &outcome)
{
    // Only someone looking elsewhere needs telling.
    if (isActiveWindow() || (m_chart && m_chart->isActiveWindow()))
        return;
    DesktopNotification::send(QStringLiteral("Trimlet"), outcome);
}

void MainWindow::browseInputFile()
{
    const QString start = pathtext::deletingLastComponent(m_ui->mInputField->text());
    auto *panel = new QFileDialog(this, tr("Choose a Recording"), start);
    panel->setFileMode(QFileDialog::ExistingFiles);
    panel->setNameFilter(tr("Recordings (*.mpg *.mpeg *.ts *.tp *.dvr-ms)"));
    openPanel(panel, &MainWindow::inputPanelFinished);
}

void MainWindow::openPanel(QFileDialog *panel, void (MainWindow::*finished)(QFileDialog *, int))
{
    // A sheet on the main window, gone once answered.
    panel->setWindowModality(Qt::WindowModal);
    panel->setAttribute(Qt::WA_DeleteOnClose);
    connect(panel, &QDialog::finished, this,
            [this, panel, finished](int result) { (this->*finished)(panel, result); });
    panel->open();
}

void MainWindow::inputPanelFinished(QFileDialog *panel, int result)
{
    if (result != QDialog::Accepted || !panel)
        return;
    openRecordings(panel->selectedFiles());
}

void MainWindow::openRecordings(const QStringList &given)
{
    // A file panel's names have U+FFFD for the bytes that are not UTF-8.
    QStringList paths;
    QString why;
    for (const QString &path : given)
        if (const QString found = rawnames::recovered(QFileInfo(path).absoluteFilePath(), &why);
            !found.isEmpty())
            paths << found;
    if (!why.isEmpty())
        m_controller.setStatusText(why);
    if (paths.isEmpty())
        return;
    if (paths.size() == 1 && m_queue->isEmpty())
        m_controller.openRecording(QFileInfo(paths.first()).absoluteFilePath());
    else
        m_queue->addRecordings(paths);
}

void MainWindow::showOutputMode()
{
    struct Shown
    {
        const char *label, *name, *description, *placeholder;
    };
    static const Shown kShown[] = {
        {"Cut copy:", "Cut copy", "Where the copy without the commercials is written",
         "Where the copy without commercials goes"},
        {"Chapters file:", "Chapters file",
         "Where the whole recording is written with a chapter for each commercial break",
         "Where the recording with chapters goes"},
        {"Skip list:", "Skip list", "The list of breaks a player skips, written beside the recording",
         "The breaks for a player to skip"},
    };
    const int mode = int(m_controller.outputMode());
    const Shown &shown = kShown[mode];
    Ui::MainWindow &u = *m_ui;
    const int index = m_controller.replacesRecording() ? kReplaceIndex : mode;
    if (u.outputModeCombo->currentIndex() != index)
        u.outputModeCombo->setCurrentIndex(index);
    u.outputLabel->setText(tr(shown.label));
    u.mOutputField->setAccessibleName(tr(shown.name));
    u.mOutputField->setAccessibleDescription(tr(shown.description));
    u.mOutputField->setPlaceholderText(tr(shown.placeholder));
    u.browseOutputButton->setAccessibleName(tr("Choose %1").arg(tr(shown.name).toLower()));
    u.browseOutputButton->setAccessibleDescription(
        tr("Choose where the %1 goes in a file dialog").arg(tr(shown.name).toLower()));
    updateControls();
}

void MainWindow::browseOutputFile()
{
    const QString current = m_ui->mOutputField->text();
    auto *panel =
        new QFileDialog(this, tr("Save the Cut Recording As"), pathtext::deletingLastComponent(current));
    panel->setAcceptMode(QFileDialog::AcceptSave);
    panel->setFileMode(QFileDialog::AnyFile);
    const QString extension = pathtext::extension(current);
    panel->setNameFilters(
        {tr("MPEG streams (*.mpg *.mpeg *.ts *.tp *.m2ts)"), tr("Matroska (*.mkv)"), tr("All files (*)")});
    if (extension == QLatin1String("mkv"))
        panel->selectNameFilter(tr("Matroska (*.mkv)"));
    panel->setDefaultSuffix(extension.isEmpty() ? QStringLiteral("mpg") : extension);
    panel->selectFile(pathtext::lastComponent(current));
    openPanel(panel, &MainWindow::outputPanelFinished);
}

void MainWindow::outputPanelFinished(QFileDialog *panel, int result)
{
    if (result != QDialog::Accepted || !panel)
        return;
    const QStringList chosen = panel->selectedFiles();
    if (!chosen.isEmpty())
        m_controller.chooseOutput(chosen.first());
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // A run is never left to run on, or cut short, without a word; and
    // the chart window never outlives the main one.
    if (m_controller.runInProgress()) {
        if (!m_controller.confirm(QStringLiteral("A run is in progress. Stop it and quit?"))) {
            event->ignore();
            return;
        }
        m_controller.stopForQuit();
    }
    // The queue is kept as it stands and taken up on the next start.
    if (m_queue->isRunning()) {
        if (!m_controller.confirm(QStringLiteral(
                "The queue is running. Stop it and quit? It is there again when Trimlet next starts."))) {
            event->ignore();
            return;
        }
        m_queue->stopForQuit();
    }
    if (m_chart)
        m_chart->close();
    QMainWindow::closeEvent(event);
}

void MainWindow::dragEnterEvent(QDragEnterEvent *event)
{
    takesDrop(event, false);
}

void MainWindow::dropEvent(QDropEvent *event)
{
    takesDrop(event, true);
}

bool MainWindow::takesDrop(QDropEvent *drop, bool open)
{
    const QList<QUrl> urls = drop->mimeData()->urls();
    QStringList paths;
    for (const QUrl &url : urls)
        if (url.isLocalFile())
            paths << rawnames::pathOf(url);
    // Several recordings go to the queue, whatever runs; one replaces the
    // one shown only while nothing runs.
    const bool single = paths.size() == 1 && m_queue->isEmpty();
    if (paths.isEmpty() || (single && (m_controller.isRunning() || m_controller.isRunningAuto())))
        return false;
    if (open)
        openRecordings(paths);
    drop->acceptProposedAction();
    return true;
}

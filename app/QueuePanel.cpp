#include "app/QueuePanel.h"

#include "app/AppController.h"
#include "app/DesktopNotification.h"
#include "core/PathText.h"
#include "jobs/QueueStore.h"
#include "jobs/RawNames.h"
#include "jobs/Recording.h"
#include "jobs/WorkFiles.h"
#include "ui_MainWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QShortcut>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QUrl>

#include <algorithm>
#include <cmath>

using State = BatchQueue::State;

namespace {

// How long the application's end waits for the queue's tools: a stop's
// grace and drain (BatchQueue's own bounds), and a little more.
constexpr int kQuitDrainMs = 1000 + 3000 + 500;

// A waiting row's profile, chosen in place from those there are now, as
// the window's own choice offers them.
class ProfileDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &, const QModelIndex &) const override
    {
        auto *combo = new QComboBox(parent);
        combo->setAccessibleName(QStringLiteral("Profile"));
        combo->setAccessibleDescription(
            QStringLiteral("The named detector settings laid over the options for this recording"));
        combo->addItem(QStringLiteral("Defaults"), QString());
        for (const QString &name : RunSettings::profilesFound())
            combo->addItem(name, name);
        return combo;
    }
    void setEditorData(QWidget *editor, const QModelIndex &index) const override
    {
        auto *combo = static_cast<QComboBox *>(editor);
        const QString profile = index.data(Qt::EditRole).toString();
        // One gone since the row took it stays its own until another is chosen.
        if (combo->findData(profile) < 0)
            combo->addItem(profile, profile);
        combo->setCurrentIndex(combo->findData(profile));
    }
    void setModelData(QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const override
    {
        model->setData(index, static_cast<QComboBox *>(editor)->currentData(), Qt::EditRole);
    }
};

} // namespace

QueuePanel::QueuePanel(AppController &controller, Ui::MainWindow &ui, QMainWindow *main, QMainWindow *chart,
                       QObject *parent)
    : QObject(parent), m_controller(controller), m_ui(ui), m_main(main), m_chart(chart), m_model(m_queue)
{
    QTableView *table = m_ui.mQueueTable;
    table->setModel(&m_model);
    table->horizontalHeader()->setSectionResizeMode(QueueModel::NameColumn, QHeaderView::ResizeToContents);
    table->horizontalHeader()->setSectionResizeMode(QueueModel::LengthColumn, QHeaderView::ResizeToContents);
    table->horizontalHeader()->setSectionResizeMode(QueueModel::ProfileColumn, QHeaderView::ResizeToContents);
    // Only a waiting row's profile is editable; F2 reaches it from any of
    // the row's cells (connectControls).
    table->setItemDelegateForColumn(QueueModel::ProfileColumn, new ProfileDelegate(table));
    table->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::SelectedClicked);
    // Each row's profile is its own, read as its detection starts.
    m_queue.setProfilesPerRow(true);
    table->horizontalHeader()->setStretchLastSection(true);
    table->verticalHeader()->hide();
    connectControls();
    updateControls();
}

QueuePanel::~QueuePanel()
{
    m_queue.disconnect(this);
}

void QueuePanel::connectControls()
{
    connect(m_ui.mQueueTable->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &QueuePanel::entrySelected);
    connect(m_ui.mDetectAllButton, &QPushButton::clicked, this, &QueuePanel::detectAll);
    connect(m_ui.mCutAllApprovedButton, &QPushButton::clicked, this, &QueuePanel::cutAllApproved);
    connect(m_ui.mReviewButton, &QPushButton::clicked, this, &QueuePanel::review);
    connect(m_ui.mApproveButton, &QPushButton::clicked, this, &QueuePanel::approve);
    connect(m_ui.mNextReviewButton, &QPushButton::clicked, this, &QueuePanel::nextForReview);
    connect(m_ui.mRemoveFromQueueButton, &QPushButton::clicked, this, &QueuePanel::removeSelected);
    connect(m_ui.mShowQueueCopyButton, &QPushButton::clicked, this, &QueuePanel::showCopy);
    // The review is done in the chart window: approving and going on to
    // the next recording work from there as from the queue.
    for (QMainWindow *window : {m_main, m_chart}) {
        auto *approveKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Return), window);
        connect(approveKey, &QShortcut::activated, this, &QueuePanel::approve);
        auto *nextKey = new QShortcut(QKeySequence(Qt::Key_F8), window);
        connect(nextKey, &QShortcut::activated, this, &QueuePanel::nextForReview);
    }
    m_ui.mApproveButton->setToolTip(tr("Approve this recording's breaks for cutting (Ctrl+Return)"));
    m_ui.mNextReviewButton->setToolTip(tr("Review the next recording that waits for review (F8)"));
    m_ui.mCutWithoutReview->setToolTip(tr("Cut each recording as soon as it is detected"));
    auto *profileKey =
        new QShortcut(QKeySequence(Qt::Key_F2), m_ui.mQueueTable, nullptr, nullptr, Qt::WidgetShortcut);
    connect(profileKey, &QShortcut::activated, this, &QueuePanel::editProfile);
    const auto queueChanged = [this] {
        save();
        updateControls();
    };
    // Before the save, which writes a stopped row as it held it.
    connect(&m_queue, &BatchQueue::stateChanged, this, &QueuePanel::track);
    connect(&m_queue, &BatchQueue::removed, this, &QueuePanel::forget);
    connect(&m_queue, &BatchQueue::removed, this, queueChanged);
    connect(&m_queue, &BatchQueue::added, this,
            [this](int index) { track(index, m_queue.entry(index).state); });
    connect(&m_queue, &BatchQueue::stateChanged, this, queueChanged);
    connect(&m_queue, &BatchQueue::stateChanged, this, &QueuePanel::showAgainIfShown);
    connect(&m_queue, &BatchQueue::added, this, queueChanged);
    connect(&m_queue, &BatchQueue::profileChanged, this, queueChanged);
    connect(&m_queue, &BatchQueue::progress, this, &QueuePanel::updateControls);
    connect(&m_queue, &BatchQueue::finished, this, &QueuePanel::finished);
    connect(&m_controller, &AppController::isRunningChanged, this, &QueuePanel::updateControls);
    connect(&m_controller, &AppController::isRunningAutoChanged, this, &QueuePanel::updateControls);
    connect(&m_controller, &AppController::quitting, this, &QueuePanel::stopForQuit);
}

RunRequest QueuePanel::requestFor(const QString &path, RunRequest::Mode mode, const QString &output,
                                  const QString &profile) const
{
    // The window's options and tools, for this recording rather than the
    // one shown, with its own profile, which the queue lays over them as
    // its detection starts. Only a single run asks before a recording goes
    // to the trash: a row's copy is made beside its recording.
    return m_controller.requestBuilder(true, true, m_controller.runOptions().autoClean)
        .mode(mode)
        .detectorSettings(RunSettings::underProfile(m_controller.iniFileData(), m_controller.runOptions()),
                          profile)
        .replaceRecording(false)
        .build(path, output);
}

void QueuePanel::addRecordings(const QStringList &paths)
{
    int first = -1;
    for (const QString &given : paths) {
        const QString path = QFileInfo(given).absoluteFilePath();
        const RunRequest request =
            requestFor(path, m_controller.outputMode(), QString(), m_controller.profile());
        const int index =
            Recording(path).haveDetection() ? m_queue.addDetected(request, false) : m_queue.add(request);
        if (first < 0)
            first = index;
    }
    if (first >= 0 && selectedEntry() < 0)
        selectEntry(first);
    updateControls();
}

void QueuePanel::restoreFrom(const QString &path)
{
    // Written once the whole queue is back: a write for each row restored
    // would leave the file holding part of it, were Trimlet to end there.
    const QList<queuestore::Saved> saved = queuestore::load(path);
    for (const queuestore::Saved &s : saved)
        enqueueSaved(s);
    m_statePath = path;
    if (!saved.isEmpty())
        save();
    if (!saved.isEmpty() && selectedEntry() < 0)
        selectEntry(m_model.entryAt(0));
    updateControls();
}

int QueuePanel::enqueueSaved(const queuestore::Saved &saved)
{
    const RunRequest request = requestFor(saved.recording, saved.mode, saved.output, saved.profile);
    if (!rawnames::exists(saved.recording)) {
        // Its disk may be one not mounted yet: the row says so and waits.
        const int index = m_queue.add(request);
        m_held.insert(index, saved);
        m_model.setNotFound(index, true);
        return index;
    }
    // A Trimlet killed while it detected left the lists set aside: back
    // before anything looks for them, this row's state included.
    const Recording recording(saved.recording);
    WorkFiles(recording.outDir(), recording.baseName()).restoreSetAside();
    const State state = queuestore::restoredState(saved);
    return state == State::Waiting ? m_queue.add(request)
                                   : m_queue.addDetected(request, state == State::Approved);
}

void QueuePanel::forget(int index)
{
    m_held.remove(index);
    m_lastLive.remove(index);
}

void QueuePanel::track(int index, State state)
{
    const BatchQueue::Entry &e = m_queue.entry(index);
    if (state == State::Stopped) {
        if (!m_held.contains(index))
            m_held.insert(index,
                          queuestore::Saved{e.recordingNamed(), e.request.output, e.request.mode,
                                            m_lastLive.value(index, State::Waiting), e.request.profile});
    } else if (state != State::Failed && state != State::Done) {
        m_lastLive.insert(index, state);
    }
}

void QueuePanel::takeUpHeld()
{
    if (m_held.isEmpty())
        return;
    {
        // Saved once: between a row's removal and its return the file
        // would not hold it.
        const QScopedValueRollback<bool> hold(m_savesHeld, true);
        QList<int> held = m_held.keys();
        std::sort(held.begin(), held.end());
        for (const int index : held) {
            const queuestore::Saved saved = m_held.value(index);
            if (!rawnames::exists(saved.recording) || !m_queue.remove(index))
                continue;
            bool queued = false;
            for (const int i : m_queue.ids()) {
                const BatchQueue::Entry &e = m_queue.entry(i);
                queued = queued
                         || (e.state != State::Failed && !m_held.contains(i)
                             && QFileInfo(e.request.recording) == QFileInfo(saved.recording));
            }
            if (!queued)
                enqueueSaved(saved);
        }
    }
    save();
}

void QueuePanel::save()
{
    if (!m_statePath.isEmpty() && !m_quitting && !m_savesHeld)
        queuestore::save(m_queue, m_statePath, m_held);
}

void QueuePanel::stopForQuit()
{
    // Saved as it stands: what runs now is taken up again next time.
    save();
    m_quitting = true;
    if (!m_queue.isRunning())
        return;
    m_queue.stop();
    // What a stop puts right (lists set aside, a partial copy) is put
    // right before the application goes, bounded as a stop is.
    QElapsedTimer waited;
    waited.start();
    while (m_queue.isRunning() && waited.elapsed() < kQuitDrainMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
}

int QueuePanel::selectedEntry() const
{
    return m_model.entryAt(m_ui.mQueueTable->currentIndex().row());
}

void QueuePanel::selectEntry(int index)
{
    const int row = m_model.rowOf(index);
    if (row < 0)
        return;
    m_ui.mQueueTable->setCurrentIndex(m_model.index(row, QueueModel::NameColumn));
    m_ui.mQueueTable->selectRow(row);
}

void QueuePanel::entrySelected()
{
    const int index = selectedEntry();
    updateControls();
    if (index < 0 || m_controller.runInProgress())
        return;
    const QString path = m_queue.entry(index).request.recording;
    if (path != m_controller.movieFile())
        m_controller.openRecording(path);
}

void QueuePanel::showAgainIfShown(int index, BatchQueue::State state)
{
    // The window shows what lies on disk: a detection or a cut the queue
    // made of the recording shown is read again.
    const QString &path = m_queue.entry(index).request.recording;
    if ((state == State::ReadyForReview || state == State::Done || state == State::Failed)
        && path == m_controller.movieFile() && !m_controller.runInProgress())
        m_controller.openRecording(path);
}

void QueuePanel::run()
{
    takeUpHeld();
    m_queue.setReviewFirst(!m_ui.mCutWithoutReview->isChecked());
    m_queue.setDetectionSlots(BatchQueue::defaultDetectionSlots(m_controller.detectorSettings()));
    m_queue.start();
    updateControls();
}

void QueuePanel::detectAll()
{
    if (m_queue.isRunning()) {
        m_queue.stop();
        return;
    }
    run();
}

void QueuePanel::cutAllApproved()
{
    if (!m_queue.isRunning())
        run();
}

void QueuePanel::review()
{
    const int index = selectedEntry();
    if (index < 0)
        return;
    if (m_controller.movieFile() != m_queue.entry(index).request.recording && !m_controller.runInProgress())
        m_controller.openRecording(m_queue.entry(index).request.recording);
    m_controller.graphAction();
}

void QueuePanel::approve()
{
    const int index = selectedEntry();
    if (index >= 0 && m_queue.approve(index))
        m_controller.setStatusText(tr("%1 approved: %2")
                                       .arg(pathtext::lastComponent(m_queue.entry(index).request.recording),
                                            m_controller.breaksSummary().isEmpty()
                                                ? tr("its breaks are cut as detected.")
                                                : m_controller.breaksSummary() + QLatin1Char('.')));
}

void QueuePanel::nextForReview()
{
    const int rows = m_model.rowCount();
    const int from = m_ui.mQueueTable->currentIndex().row();
    for (int step = 1; step <= rows; ++step) {
        const int index = m_model.entryAt((from + step + rows) % rows);
        if (index >= 0 && m_queue.entry(index).state == State::ReadyForReview) {
            selectEntry(index);
            review();
            return;
        }
    }
    m_controller.setStatusText(tr("No recording waits for review."));
}

void QueuePanel::editProfile()
{
    const QModelIndex cell = m_model.index(m_ui.mQueueTable->currentIndex().row(), QueueModel::ProfileColumn);
    if (m_model.flags(cell) & Qt::ItemIsEditable)
        m_ui.mQueueTable->edit(cell);
    else if (cell.isValid())
        m_controller.setStatusText(tr("Only a waiting recording's profile can be changed."));
}

void QueuePanel::removeSelected()
{
    const int index = selectedEntry();
    if (index >= 0)
        m_queue.remove(index);
}

void QueuePanel::showCopy()
{
    const int index = selectedEntry();
    if (index >= 0 && !m_queue.entry(index).outcome.copy.isEmpty())
        QDesktopServices::openUrl(
            QUrl::fromLocalFile(QFileInfo(m_queue.entry(index).outcome.copy).absolutePath()));
}

QString QueuePanel::progressText() const
{
    if (!m_queue.isRunning())
        return QString();
    return tr("%1 of %2 recordings · %3 %")
        .arg(m_queue.finishedCount())
        .arg(m_queue.recordingCount())
        .arg(int(std::floor(m_queue.fractionDone() * 100)));
}

QueuePanel::StepProgress QueuePanel::stepProgress() const
{
    double detected = 0, cut = 0;
    int detections = 0, cuts = 0;
    for (const int i : m_queue.ids()) {
        const BatchQueue::Entry &e = m_queue.entry(i);
        const double step = std::max(0.0, e.percent) / 100;
        if (!e.existingDetection) {
            ++detections;
            detected += e.state == State::Waiting ? 0 : e.state == State::Detecting ? step : 1;
        }
        if (e.state == State::Detected || e.state == State::Approved) {
            ++cuts;
        } else if (e.state == State::Cutting) {
            ++cuts;
            cut += step;
        } else if (e.state == State::Done && !e.outcome.copy.isEmpty()) {
            ++cuts;
            cut += 1;
        }
    }
    StepProgress p;
    if (detections)
        p.detect = detected / detections;
    if (cuts)
        p.cut = cut / cuts;
    return p;
}

void QueuePanel::finished()
{
    const QString summary = tr("Queue finished: %1 ready for review, %2 done, %3 failed.")
                                .arg(m_queue.countIn(State::ReadyForReview))
                                .arg(m_queue.countIn(State::Done))
                                .arg(m_queue.countIn(State::Failed));
    m_controller.setStatusText(summary);
    if (!m_main->isActiveWindow() && !m_chart->isActiveWindow())
        DesktopNotification::send(QStringLiteral("Trimlet"), summary);
    updateControls();
}

void QueuePanel::updateControls()
{
    const bool running = m_queue.isRunning();
    const bool single = m_controller.isRunning() || m_controller.isRunningAuto();
    m_ui.queueGroup->setVisible(!isEmpty());
    const int index = selectedEntry();
    const State state = index >= 0 ? m_queue.entry(index).state : State::Failed;
    const bool anyApproved = m_queue.countIn(State::Approved) > 0;
    const bool anyWaiting = m_queue.countIn(State::Waiting) > 0;
    const bool anyReview = m_queue.countIn(State::ReadyForReview) > 0;
    m_ui.mDetectAllButton->setText(running ? tr("&Stop Queue") : tr("&Detect All"));
    m_ui.mDetectAllButton->setEnabled(running || (!single && (anyWaiting || !m_held.isEmpty())));
    m_ui.mCutAllApprovedButton->setEnabled(!running && !single && anyApproved);
    m_ui.mCutWithoutReview->setEnabled(!running);
    m_ui.mReviewButton->setEnabled(
        index >= 0 && !single
        && (state == State::ReadyForReview || state == State::Approved || state == State::Detected));
    m_ui.mApproveButton->setEnabled(index >= 0 && state == State::ReadyForReview);
    m_ui.mNextReviewButton->setEnabled(anyReview && !single);
    m_ui.mRemoveFromQueueButton->setEnabled(index >= 0 && state != State::Detecting
                                            && state != State::Cutting);
    m_ui.mShowQueueCopyButton->setEnabled(index >= 0 && !m_queue.entry(index).outcome.copy.isEmpty()
                                          && QFileInfo::exists(m_queue.entry(index).outcome.copy));
    QString status = progressText();
    if (status.isEmpty() && !isEmpty())
        status = m_queue.recordingCount() == 1 ? tr("1 recording")
                                               : tr("%1 recordings").arg(m_queue.recordingCount());
    if (m_ui.mQueueStatusField->text() != status)
        m_ui.mQueueStatusField->setText(status);
    emit changed();
}

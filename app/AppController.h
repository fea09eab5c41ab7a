#pragma once

#include "app/BreakReview.h"
#include "app/RecordingSession.h"
#include "app/RunControl.h"
#include "app/RunSettings.h"
#include "app/Updater.h"
#include "core/ResultParsers.h"
#include "process/TaskWrapper.h"

#include <QDateTime>
#include <QObject>

// The run log's file name, beside the recording.
extern const QString logFileName;

// The application's controller: the window-state flags and the status line
// the windows follow, and the operations they call, each handed to the part
// whose job it is. It holds values, never a widget.
class AppController : public QObject, public UpdaterDelegate
{
    Q_OBJECT
    Q_PROPERTY(bool haveInput READ haveInput WRITE setHaveInput NOTIFY haveInputChanged)
    Q_PROPERTY(bool haveResults READ haveResults WRITE setHaveResults NOTIFY haveResultsChanged)
    Q_PROPERTY(
        bool haveCommercials READ haveCommercials WRITE setHaveCommercials NOTIFY haveCommercialsChanged)
    Q_PROPERTY(bool isRunning READ isRunning WRITE setIsRunning NOTIFY isRunningChanged)
    Q_PROPERTY(bool isRunningAuto READ isRunningAuto WRITE setIsRunningAuto NOTIFY isRunningAutoChanged)
    Q_PROPERTY(QString status READ status NOTIFY statusChanged)
    Q_PROPERTY(QString outputText READ outputText WRITE setOutputText NOTIFY outputTextChanged)
    Q_PROPERTY(QString chosenRecording READ chosenRecording NOTIFY chosenRecordingChanged)
    Q_PROPERTY(QString recordingInfoText READ recordingInfoText NOTIFY recordingInfoTextChanged)
    Q_PROPERTY(QString lastChecked READ lastChecked NOTIFY lastCheckedChanged)

public:
    using ProcessState = RunPipeline::ProcessState;
    using RunButton = RunControl::RunButton;
    using Action = RunControl::Action;
    using Row = RunControl::Row;
    using Confirm = RecordingSession::Confirm;

    static constexpr int kMaxChartPoints = results::kMaxChartPoints;
    static constexpr int kMinCommercialFrames = results::kMinCommercialFrames;
    static constexpr int kMaxDataCols = results::kMaxDataCols;

    explicit AppController(QObject *parent = nullptr);
    ~AppController() override;

    RecordingSession &session() { return m_session; }
    BreakReview &review() { return m_review; }

    // ---- start-up and file selection (StartUp.cpp)
    void awakeFromNib();
    // Takes path as if it had been chosen in the open panel.
    void openRecording(const QString &path);
    // The recording whose results are shown, without reading it or touching the fields.
    void setRecording(const QString &path);
    const QString &chosenRecording() const { return m_session.chosenRecording(); }
    const QString &outputText() const { return m_session.outputText(); }
    void setOutputText(const QString &text) { m_session.setOutputText(text); }
    RunRequest::Mode outputMode() const { return m_session.outputMode(); }
    void setOutputMode(RunRequest::Mode mode, bool replace = false)
    {
        m_session.setOutputMode(mode, replace);
    }
    bool replacesRecording() const { return m_session.replacesRecording(); }
    void chooseOutput(const QString &path) { m_session.chooseOutput(path); }
    const QString &recordingInfoText() const { return m_session.recordingInfoText(); }
    // When the package lists were last refreshed, or "never".
    const QString &lastChecked() const { return m_lastChecked; }
    void setLastCheckedDate();
    void updaterDidFindValidUpdate(Updater *, const QString &) override { setLastCheckedDate(); }
    void updaterDidNotFindUpdate(Updater *) override { setLastCheckedDate(); }
    bool applicationShouldTerminateAfterLastWindowClosed() const { return true; }

    // ---- pipeline actions (RunControl)
    void autoStart() { m_run.autoStart(); }
    void detectStart() { m_run.detectStart(); }
    void removeStart() { m_run.removeStart(); }
    void autoStop() { m_run.stopRun(); }
    void detectStop() { m_run.stopRun(); }
    void removeStop() { m_run.stopRun(); }
    void clean() { m_run.clean(); }
    void setIdle() { m_run.setIdle(); }
    void setRunOptions(const RunOptions &o) { m_session.setMencoderCutter(m_settings.setRunOptions(o)); }
    const RunOptions &runOptions() const { return m_settings.runOptions(); }
    // Asks the user a yes-or-no question: the windows with a dialog, tests their own way.
    void setConfirm(const Confirm &confirm)
    {
        m_confirm = confirm;
        m_session.setConfirm(confirm);
    }
    bool confirm(const QString &question) const { return !m_confirm || m_confirm(question); }
    QString outputProblem() { return m_session.outputProblem(); }
    QString settledOutput() const { return m_session.settledOutput(); }
    QString outputInUse() const { return m_session.outputInUse(); }
    void stopForQuit() { m_run.stopForQuit(); }
    // A SIGINT, SIGTERM or SIGHUP: the run stops as by Stop, then exit(128 + signal).
    void quitOnSignal(int signalNumber) { m_run.quitOnSignal(signalNumber); }
    bool runInProgress() const { return m_run.runInProgress(); }
    bool haveWorkFiles() const { return m_session.haveWorkFiles(); }
    QStringList workFilesMade() const { return m_session.workFilesMade(); }
    void performButtonAction(RunButton button) { m_run.performButtonAction(button); }
    Action buttonAction(RunButton button) const { return m_run.buttonAction(button); }
    bool buttonStops(RunButton button) const { return m_run.buttonStops(button); }
    QString buttonTitle(RunButton button) const { return m_run.buttonTitle(button); }
    std::optional<Row> activeRow() const { return m_run.activeRow(); }

    // ---- tool contract and settings (RunSettings)
    QStringList detectArguments() const { return m_settings.detectArguments(m_session); }
    QStringList removeArguments(const QString &output = QString(), const QString &cutList = QString()) const
    {
        return m_settings.removeArguments(m_session, output, cutList);
    }
    QString toolPath(const QString &name) const { return m_settings.toolPath(name); }
    const std::optional<media::MediaInfo> &recordingInfo() const { return m_session.media().info(); }
    double recordingGroupSeconds() const { return media::groupSeconds(m_session.media().packets()); }
    bool probingRecording() const { return m_session.media().probing() || m_session.media().scanning(); }
    void setProbeTimeLimit(int ms) { m_session.media().setProbeTimeLimit(ms); }
    QStringList partialCopies() const { return m_session.partialCopies(); }
    ToolLocator &toolLocator() { return m_settings.toolLocator(); }
    bool loadDetectionSettings(const QString &path) { return m_settings.loadDetectionSettings(path); }
    void setDetectionSettings(const QVariantMap &settings) { m_settings.setDetectionSettings(settings); }
    QVariantMap detectorSettings() const { return m_settings.detectorSettings(); }
    void setProfile(const QString &name) { m_settings.setProfile(name); }
    const QString &profile() const { return m_settings.profile(); }
    static QStringList profilesFound() { return RunSettings::profilesFound(); }
    void writeIniFile() { m_settings.writeIniFile(m_session); }
    int detectMethodMask() const { return m_settings.detectMethodMask(); }
    RunRequest runRequest(bool detect, bool remove, bool erase) const
    {
        return m_settings.runRequest(m_session, detect, remove, erase);
    }
    RequestBuilder requestBuilder(bool detect, bool remove, bool erase) const
    {
        return m_settings.requestBuilder(m_session, detect, remove, erase);
    }
    // The run under way, or the last one.
    const RunRequest &request() const { return m_run.request(); }
    const QVariantMap &iniFileData() const { return m_settings.iniFileData(); }
    // What the last tool wrote that was not progress.
    QString logExcerpts() const { return m_run.pipeline() ? m_run.pipeline()->logExcerpts() : QString(); }

    // ---- results and the user's corrections (BreakReview)
    int readTXTData() { return m_review.readTXTData(); }
    bool haveCSVData() { return m_review.haveCSVData(); }
    int readEDLData() { return m_review.readEDLData(); }
    int readCSVData() { return m_review.readCSVData(); }
    void clearGraphData() { m_review.clearGraphData(); }
    int loadData() { return m_review.loadData(); }
    void makeChart() { m_review.makeChart(); }
    // The chart window is wanted, with the results as they are now.
    void graphAction()
    {
        emit chartRequested();
        makeChart();
    }
    const Recording::Chart &chart() const { return m_review.chart(); }
    const review::EdgeMarks &edgeMarks() const { return m_review.edgeMarks(); }
    bool applyBreaks(const CommercialList &list) { return m_review.applyBreaks(list); }
    bool revertToDetection() { return m_review.revertToDetection(); }
    bool haveEditedList() const { return m_review.haveEditedList(); }
    CommercialList detectedCommercials() const { return m_review.detectedCommercials(); }
    QString breaksSummary() const { return m_review.breaksSummary(); }

    // ---- window-state flags
    bool haveInput() const { return m_haveInput; }
    bool haveResults() const { return m_haveResults; }
    bool haveCommercials() const { return m_haveCommercials; }
    bool isRunning() const { return m_isRunning; }
    bool isRunningAuto() const { return m_isRunningAuto; }
    void setHaveInput(bool value) { setFlag(m_haveInput, value, &AppController::haveInputChanged); }
    void setHaveResults(bool value) { setFlag(m_haveResults, value, &AppController::haveResultsChanged); }
    void setHaveCommercials(bool value)
    {
        setFlag(m_haveCommercials, value, &AppController::haveCommercialsChanged);
    }
    void setIsRunning(bool value) { setFlag(m_isRunning, value, &AppController::isRunningChanged); }
    void setIsRunningAuto(bool value)
    {
        setFlag(m_isRunningAuto, value, &AppController::isRunningAutoChanged);
    }

    // ---- state, readable by the windows and tests
    const TaskWrapper *runner() const { return m_run.pipeline() ? m_run.pipeline()->runner() : nullptr; }
    bool logFileOpen() const { return m_run.pipeline() && m_run.pipeline()->logFileOpen(); }
    ProcessState processState() const { return m_run.processState(); }
    Outcome lastOutcome() const { return m_run.pipeline() ? m_run.pipeline()->result() : Outcome(); }
    const QString &status() const { return m_status; }
    // Says something on the status line.
    void setStatusText(const QString &text);
    const QString &movieFile() const { return m_session.movieFile(); }
    const QString &outDir() const { return m_session.outDir(); }
    const QString &baseName() const { return m_session.baseName(); }
    const int *aiVideoData() const { return chart().values.empty() ? nullptr : chart().values.data(); }
    const int *aiValueRange() const { return chart().ranges.data(); }
    const SharedCommercials &commercials() const { return m_review.document().list(); }
    const BreakDocument &document() const { return m_review.document(); }
    qint32 commercialsFound() const { return m_review.commercialsFound(); }
    const QStringList &labels() const { return m_review.labels(); }
    qint32 totalRows() const { return m_review.totalRows(); }
    float chunkSize() const { return m_review.chunkSize(); }
    qint32 pointCount() const { return m_review.pointCount(); }
    float fps() const { return m_review.fps(); }
    EndSound &endSound() { return m_run.endSound(); }
    void setStopBounds(int graceMs, int drainMs) { m_run.setStopBounds(graceMs, drainMs); }

signals:
    void haveInputChanged(bool);
    void haveResultsChanged(bool);
    void haveCommercialsChanged(bool);
    void isRunningChanged(bool);
    void isRunningAutoChanged(bool);
    void buttonsChanged();
    // Work files may have come or gone.
    void workFilesChanged();
    // A run came to its natural end; outcome is what the status line says.
    void runEnded(const QString &outcome);
    void statusChanged(const QString &status);
    void outputTextChanged(const QString &text);
    void outputModeChanged(RunRequest::Mode mode);
    void chosenRecordingChanged(const QString &path);
    void recordingInfoTextChanged(const QString &text);
    void lastCheckedChanged(const QString &text);
    // A progress row: a tool started (its clock restarts), got so far, ended, or the row empties.
    void rowStarted(AppController::Row row);
    void rowProgress(AppController::Row row, double percent);
    void rowFinished(AppController::Row row, bool failed);
    void rowCleared(AppController::Row row);
    // The chart's points are new (see chart()), or about to be freed: a
    // view holding them lets go at once.
    void chartChanged();
    void chartCleared();
    // The break list was read again or edited; the chart and table reread it.
    void commercialsChanged();
    // The break list is no longer the one the user's edits were made on.
    void breaksReplaced();
    // The user asked to see the chart.
    void chartRequested();
    // The application ends on a signal: the queue stops now, as its Stop does.
    void quitting();

private:
    void forwardSignals();
    // A flag changes through its setter only, which tells its observers.
    void setFlag(bool &flag, bool value, void (AppController::*changed)(bool))
    {
        if (flag == value)
            return;
        flag = value;
        emit(this->*changed)(value);
    }

    // Torn down in reverse: the run ends its tools before the probe they
    // may read goes.
    RecordingSession m_session;
    RunSettings m_settings;
    BreakReview m_review{*this};
    RunControl m_run{*this};
    bool m_haveInput = false;
    bool m_haveResults = false;
    bool m_haveCommercials = false;
    bool m_isRunning = false;
    bool m_isRunningAuto = false;
    QString m_status;
    QString m_lastChecked;
    Confirm m_confirm;
};

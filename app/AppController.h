#pragma once

#include "app/EndSound.h"
#include "app/RunOptions.h"
#include "app/Updater.h"
#include "core/Commercial.h"
#include "core/MediaInfo.h"
#include "core/ResultParsers.h"
#include "core/RunRequest.h"
#include "jobs/BreakDocument.h"
#include "jobs/Recording.h"
#include "jobs/RecordingMedia.h"
#include "jobs/RequestBuilder.h"
#include "jobs/RunPipeline.h"
#include "jobs/WorkFiles.h"
#include "process/TaskWrapper.h"
#include "process/ToolLocator.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QVariantMap>

#include <array>
#include <functional>
#include <optional>

// The run log's file name, beside the recording.
extern const QString logFileName;

// The application's controller: it turns what the window asks into a run
// request, hands it to a pipeline of jobs, and says what the run says; it
// reads the detector's results into the document the chart and table show.
// It holds values, never a widget: the window mirrors them and hands back
// what the user changes.
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
    // The three Run/Stop buttons.
    enum class RunButton { Auto, Detect, Remove };
    Q_ENUM(RunButton)
    // What a Run/Stop button does when pressed.
    enum class Action { AutoStart, DetectStart, RemoveStart, AutoStop, DetectStop, RemoveStop };
    // The two progress rows: detection's, and the cut's.
    enum class Row { Detect, Remove };
    Q_ENUM(Row)

    static constexpr int kMaxChartPoints = results::kMaxChartPoints;
    static constexpr int kMinCommercialFrames = results::kMinCommercialFrames;
    static constexpr int kMaxDataCols = results::kMaxDataCols;

    explicit AppController(QObject *parent = nullptr);
    ~AppController() override;

    // ---- start-up and file selection
    void awakeFromNib();
    // Takes path as if it had been chosen in the open panel.
    void openRecording(const QString &path);
    // The recording whose results the window shows, without reading the
    // recording itself or touching the fields.
    void setRecording(const QString &path);
    // The recording as last chosen, for the input field.
    const QString &chosenRecording() const { return m_chosenRecording; }
    // The output field's text, as typed or proposed.
    const QString &outputText() const { return m_outputText; }
    void setOutputText(const QString &text);
    // What a run that cuts leaves: a cut copy, a chapters file or a skip
    // list. Changing it proposes that output's own name, unless the user
    // typed one; a skip list is always BASE.edl, where a player finds it.
    RunRequest::Mode outputMode() const { return m_outputMode; }
    // replace: the cut copy, once checked, takes the recording's name and
    // the recording goes to the trash (cut mode only).
    void setOutputMode(RunRequest::Mode mode, bool replace = false);
    bool replacesRecording() const { return m_replaceRecording; }
    // A path chosen in the save panel, which has asked before replacing a file.
    void chooseOutput(const QString &path);
    // What the recording holds, in words, for the line under the fields.
    const QString &recordingInfoText() const { return m_recordingInfoText; }
    // When the package lists were last refreshed, or "never".
    const QString &lastChecked() const { return m_lastChecked; }
    void setLastCheckedDate();
    void updaterDidFindValidUpdate(Updater *updater, const QString &update) override;
    void updaterDidNotFindUpdate(Updater *updater) override;
    bool applicationShouldTerminateAfterLastWindowClosed() const { return true; }

    // ---- pipeline actions
    void autoStart();
    void detectStart();
    void removeStart();
    void autoStop();
    void detectStop();
    void removeStop();
    void clean();
    void setIdle();
    // What the window's check boxes ask of the next run.
    void setRunOptions(const RunOptions &options) { m_options = options; }
    const RunOptions &runOptions() const { return m_options; }
    // Asks the user a yes-or-no question; the windows answer with a dialog,
    // tests with their own function.
    using Confirm = std::function<bool(const QString &question)>;
    void setConfirm(Confirm confirm) { m_confirm = std::move(confirm); }
    bool confirm(const QString &question) const { return !m_confirm || m_confirm(question); }
    // The output path as a run that cuts needs it; empty when it will do,
    // else what is wrong with it, in words for the status line.
    QString outputProblem();
    // The output field's path as a run uses it: trimmed, and a name
    // without a folder taken as one in the recording's folder.
    QString settledOutput() const;
    // The output of the run under way, else the field's settled path.
    QString outputInUse() const
    {
        return m_pipeline && m_pipeline->isRunning() && !m_pipeline->request().output.isEmpty()
                   ? m_pipeline->request().output
                   : settledOutput();
    }
    // Stops whatever runs, as a Stop does, before the application quits.
    void stopForQuit();
    // What a SIGINT, SIGTERM or SIGHUP does: the run is stopped as by its
    // Stop button and the application exits with 128 + the signal.
    void quitOnSignal(int signalNumber);
    bool runInProgress() const { return processState() != ProcessState::kStateIdle; }
    // A work file of the recording is on disk, so erasing has something to do.
    bool haveWorkFiles() const;
    // The files Trimlet's runs wrote beside the recording, as recorded in
    // the recording's manifest (".BASE.trimlet-files"), which erasing
    // reads: nothing else is ever erased.
    QStringList workFilesMade() const;
    void performButtonAction(RunButton button);
    Action buttonAction(RunButton button) const { return m_actions[size_t(button)]; }
    // The button stops the run under way when pressed.
    bool buttonStops(RunButton button) const;
    // "Stop" on the button of the run under way, else "Run".
    QString buttonTitle(RunButton button) const;
    // The row the running step shows its progress in; none before a run
    // and after erasing.
    std::optional<Row> activeRow() const { return m_activeRow; }

    // ---- tool contract
    QStringList detectArguments() const;
    // A tool's path, or its bare name when it is nowhere to be found.
    QString toolPath(const QString &name) const;
    // The removal tool's vector; the copy goes to output, or to the
    // output field's path when output is empty, and the cuts come from
    // cutList, or from the detector's EDL when it is empty.
    QStringList removeArguments(const QString &output = QString(), const QString &cutList = QString()) const;
    // What the probe said of the chosen recording; none before it answered.
    const std::optional<media::MediaInfo> &recordingInfo() const { return m_media.info(); }
    // The recording's longest group of pictures, as far as it is known.
    double recordingGroupSeconds() const { return media::groupSeconds(m_media.packets()); }
    // The recording is still being read: first what it holds, then where
    // each of its frames lies.
    bool probingRecording() const { return m_media.probing() || m_media.scanning(); }
    // How long the recording may take to answer what it holds.
    void setProbeTimeLimit(int ms) { m_media.setProbeTimeLimit(ms); }
    // Hidden copies being written beside the output: ".NAME.trimlet-XXXXXX".
    QStringList partialCopies() const;
    ToolLocator &toolLocator() { return m_toolLocator; }

    // ---- settings and ini file
    bool loadDetectionSettings(const QString &resourcePath);
    // Settings as a resource would give them.
    void setDetectionSettings(const QVariantMap &settings) { m_iniFileData = settings; }
    // The settings resource overlaid with the window's options, as a run
    // hands them to the detector.
    QVariantMap detectorSettings() const;
    // The profile laid over the detector settings of each run (empty: the
    // defaults), and the profiles there are to choose from.
    void setProfile(const QString &name) { m_profile = name; }
    const QString &profile() const { return m_profile; }
    static QStringList profilesFound();
    void writeIniFile();
    int detectMethodMask() const { return m_options.detectMethods; }
    // What Run would ask for now, with the window's options.
    RunRequest runRequest(bool detect, bool remove, bool erase) const;
    // The window's options and tools, for a request of any recording.
    RequestBuilder requestBuilder(bool detect, bool remove, bool erase) const;
    // The run under way, or the last one.
    const RunRequest &request() const { return m_request; }
    const QVariantMap &iniFileData() const { return m_iniFileData; }

    // What the last tool wrote that was not progress.
    QString logExcerpts() const { return m_pipeline ? m_pipeline->logExcerpts() : QString(); }

    // ---- results
    int readTXTData();
    bool haveCSVData();
    int readEDLData();
    int readCSVData();
    void clearGraphData();
    int loadData();
    // Loads the results and hands them to the chart: chartChanged on
    // success, else chartCleared if a chart was shown.
    void makeChart();
    // The chart window is wanted, with the results as they are now.
    void graphAction();
    const Recording::Chart &chart() const { return m_chart; }
    // Where the chart's breaks can sit: its black frames and scene changes.
    const review::EdgeMarks &edgeMarks() const { return m_edgeMarks; }

    // ---- the user's corrections of the detector's list
    // Writes list (the breaks, each cut or kept) as the frame list and the
    // EDL the cutter uses, keeping the detector's own list beside them.
    bool applyBreaks(const CommercialList &list);
    // Brings the detector's own list back; false when there is none to.
    bool revertToDetection();
    bool haveEditedList() const { return m_recording.haveEditedList(); }
    CommercialList detectedCommercials() const { return m_recording.detectedCommercials(); }
    // "2 of 3 detected breaks, 1 edited"; empty when nothing was edited.
    QString breaksSummary() const;

    // ---- window-state flags
    bool haveInput() const { return m_haveInput; }
    bool haveResults() const { return m_haveResults; }
    bool haveCommercials() const { return m_haveCommercials; }
    bool isRunning() const { return m_isRunning; }
    bool isRunningAuto() const { return m_isRunningAuto; }
    void setHaveInput(bool value);
    void setHaveResults(bool value);
    void setHaveCommercials(bool value);
    void setIsRunning(bool value);
    void setIsRunningAuto(bool value);

    // ---- state, readable by the windows and tests
    // The tool running now, if any.
    const TaskWrapper *runner() const { return m_pipeline ? m_pipeline->runner() : nullptr; }
    bool logFileOpen() const { return m_pipeline && m_pipeline->logFileOpen(); }
    ProcessState processState() const { return m_pipeline ? m_pipeline->state() : ProcessState::kStateIdle; }
    // What the last run came to, as facts.
    Outcome lastOutcome() const { return m_pipeline ? m_pipeline->result() : Outcome(); }
    // What the status line says.
    const QString &status() const { return m_status; }
    // Says something on the status line that no run of this window says.
    void setStatusText(const QString &text) { setStatus(text); }
    const QString &movieFile() const { return m_recording.path(); }
    const QString &outDir() const { return m_recording.outDir(); }
    const QString &baseName() const { return m_recording.baseName(); }
    const int *aiVideoData() const { return m_chart.values.empty() ? nullptr : m_chart.values.data(); }
    const int *aiValueRange() const { return m_chart.ranges.data(); }
    const SharedCommercials &commercials() const { return m_document.list(); }
    const BreakDocument &document() const { return m_document; }
    qint32 commercialsFound() const { return m_commercialsFound; }
    const QStringList &labels() const { return m_labels; }
    qint32 totalRows() const { return m_document.totalRows(); }
    float chunkSize() const { return m_chunkSize; }
    qint32 pointCount() const { return m_pointCount; }
    float fps() const { return m_document.fps(); }
    EndSound &endSound() { return m_endSound; }
    // Bounds handed to every runner (grace before SIGKILL, whole drain).
    void setStopBounds(int graceMs, int drainMs);

signals:
    void haveInputChanged(bool);
    void haveResultsChanged(bool);
    void haveCommercialsChanged(bool);
    void isRunningChanged(bool);
    void isRunningAutoChanged(bool);
    // A Run/Stop button changed its title.
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
    // A progress row: a tool started (its clock starts again), got so far,
    // ended (failed or not), or the row empties.
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
    // The break list is no longer the one the user's edits were made on:
    // another recording was chosen, or this one read anew or detected again.
    void breaksReplaced();
    // The user asked to see the chart.
    void chartRequested();
    // The application ends on a signal: what runs beside this controller
    // (the queue) stops now, as its Stop does.
    void quitting();

private:
    QString workFile(const QString &extension) const { return m_recording.workFile(extension); }
    void setStatus(const QString &text);
    void setButton(RunButton button, Action action);
    void setRecordingInfoText(const QString &text);
    void beginRun(RunButton button, Action stopAction, bool detect, bool remove, bool erase, bool automatic);
    // What the run may do, settled while the user is there: false when it
    // may not start, and detect cleared when the user keeps their edits.
    bool settleRun(bool &detect, bool remove);
    // The copy can take the recording's place, and the user said it may.
    bool replaceConfirmed();
    void connectPipeline();
    bool outputIsInput() const;
    void setOutcome(const QString &text);
    void recordingProbed();
    void recordingScanned(bool ok);
    void showRecordingInfo();
    void removeStaleCopies();
    // The recording's work files, the recording and the copy kept out of
    // their reach.
    WorkFiles workFiles() const;
    void reloadCounts();
    void stepStarted(RunPipeline::Step step);
    void stepProgress(RunPipeline::Step step, double percent);
    void runFinished();
    void stopRun();
    // The run is over: the status line shows its outcome, and the window
    // looks again at which work files are left.
    void endOfRunShown();
    struct PendingStart
    {
        RunButton button;
        Action stopAction;
        bool detect, remove, erase, automatic;
    };

    Recording m_recording;
    BreakDocument m_document;
    Recording::Chart m_chart;
    review::EdgeMarks m_edgeMarks;
    // Points the chart has for the frame list, and then for the table.
    qint32 m_pointCount = 0;
    float m_chunkSize = 0;
    // The table's column labels, as its last header gave them.
    QStringList m_labels;
    qint32 m_commercialsFound = 0;
    QVariantMap m_iniFileData;
    RunOptions m_options;
    std::optional<Row> m_activeRow;
    bool m_haveInput = false;
    bool m_haveResults = false;
    bool m_haveCommercials = false;
    bool m_isRunning = false;
    bool m_isRunningAuto = false;
    // What each button does, by RunButton.
    std::array<Action, 3> m_actions{Action::AutoStart, Action::DetectStart, Action::RemoveStart};
    ToolLocator m_toolLocator;
    EndSound m_endSound;
    int m_graceMs = 1000;
    int m_drainMs = 3000;

    // What the recording holds and where each of its frames lies, read
    // once when it is chosen; runs and the check of a copy count on it.
    RecordingMedia m_media;
    // A Run pressed while the recording was still being read: the copy's
    // name is settled by what it holds, so the run waits for the answer.
    std::optional<PendingStart> m_pendingStart;
    // The run under way, or the last one; deleted on a later pass of the
    // event loop, never inside its own signal.
    QPointer<RunPipeline> m_pipeline;
    // The run was stopped by the user rather than ending of itself.
    bool m_stoppedByUser = false;
    QString m_proposedOutput;
    RunRequest::Mode m_outputMode = RunRequest::Mode::Cut;
    bool m_replaceRecording = false;
    QString m_profile;
    // The output's name proposed for the recording and the mode; a cut
    // copy's extension follows its container once the probe has answered.
    QString proposedOutput(bool probed = true) const;
    QString m_refusal;
    // What the run has to say at its end; the status line shows what runs
    // meanwhile.
    QString m_outcome;
    QString m_confirmedOutput;
    RunRequest m_request;
    // What the status line says, as the controller last set it.
    QString m_status;
    QString m_chosenRecording;
    QString m_outputText;
    QString m_recordingInfoText;
    QString m_lastChecked;
    Confirm m_confirm;
};

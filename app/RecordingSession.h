#pragma once

#include "core/RunRequest.h"
#include "jobs/RawNames.h"
#include "jobs/Recording.h"
#include "jobs/RecordingMedia.h"
#include "jobs/RunPipeline.h"
#include "jobs/WorkFiles.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

// The recording the window works on: the one chosen, what it holds (asked
// of ffprobe once, when it is chosen), and where its output goes: the name
// proposed for the output mode, the one the user typed or chose, settled
// and questioned when a run needs it.
class RecordingSession : public QObject
{
    Q_OBJECT
public:
    using Confirm = std::function<bool(const QString &question)>;

    explicit RecordingSession(QObject *parent = nullptr);
    ~RecordingSession() override;

    // A recording chosen: its names, an output proposed for it, and the
    // probe of what it holds started with ffprobe. One whose name is not
    // UTF-8 (rawnames::escaped() text) is worked on under a stand-in's.
    void choose(const QString &path);
    bool underStandIn() const { return m_standIn != nullptr; }
    // A run's text with the stand-in's names as the user's.
    QString shownText(const QString &text) const { return m_standIn ? m_standIn->shownText(text) : text; }
    // What the runs under the stand-in made takes the recording's own
    // names (copy: the run's copy); again: a fresh stand-in follows for
    // what the user does next. The copy's real path; why, what could not.
    QString carryOut(const QString &copy, bool again, QString *why);
    // Asks ffprobe what the recording holds; refused or probeAnswered tell.
    void probe(const QString &ffprobe);
    // The recording whose results are shown, without reading it.
    void setRecording(const QString &path) { m_recording = Recording(path); }
    const Recording &recording() const { return m_recording; }
    const QString &movieFile() const { return m_recording.path(); }
    const QString &outDir() const { return m_recording.outDir(); }
    const QString &baseName() const { return m_recording.baseName(); }
    const QString &chosenRecording() const { return m_chosenRecording; }
    RecordingMedia &media() { return m_media; }
    const RecordingMedia &media() const { return m_media; }
    // Why the recording cannot be run on, as the probe found; empty when it can.
    const QString &refusal() const { return m_refusal; }
    const QString &recordingInfoText() const { return m_recordingInfoText; }
    void setRecordingInfoText(const QString &text);

    const QString &outputText() const { return m_outputText; }
    void setOutputText(const QString &text);
    RunRequest::Mode outputMode() const { return m_outputMode; }
    void setOutputMode(RunRequest::Mode mode, bool replace = false);
    // mencoder asked for as the cutter, whose copies may be in another container.
    void setMencoderCutter(bool mencoder);
    bool replacesRecording() const { return m_replaceRecording; }
    // A path chosen in the save panel, which has asked before replacing a file.
    void chooseOutput(const QString &path);
    // A path the user said may be replaced; empty when none.
    const QString &confirmedOutput() const { return m_confirmedOutput; }
    void setConfirmedOutput(const QString &path) { m_confirmedOutput = path; }
    void setConfirm(Confirm confirm) { m_confirm = std::move(confirm); }
    QString outputProblem();
    QString settledOutput() const;
    // The output of the run under way, else the field's settled path.
    QString outputInUse() const
    {
        return m_pipeline && m_pipeline->isRunning() && !m_pipeline->request().output.isEmpty()
                   ? m_pipeline->request().output
                   : settledOutput();
    }
    // The run whose output is in use while it runs.
    void setRun(RunPipeline *pipeline) { m_pipeline = pipeline; }
    // Hidden copies being written beside the output: ".NAME.trimlet-XXXXXX".
    QStringList partialCopies() const;
    // The recording's work files, the recording and the copy kept out of
    // their reach.
    WorkFiles workFiles() const;
    // The files Trimlet's runs wrote beside the recording, as recorded in
    // the recording's manifest (".BASE.trimlet-files"), which erasing
    // reads: nothing else is ever erased.
    QStringList workFilesMade() const;
    // A work file of the recording is on disk, so erasing has something to do.
    bool haveWorkFiles() const;
    void removeStaleCopies();
    // The output's name proposed for the recording and the mode; a cut
    // copy's extension follows its container once the probe has answered.
    QString proposedOutput(bool probed = true) const;

signals:
    void chosenRecordingChanged(const QString &path);
    void outputTextChanged(const QString &text);
    void outputModeChanged(RunRequest::Mode mode);
    void recordingInfoTextChanged(const QString &text);
    // The probe found the recording cannot be run on: why, for the status line.
    void refused(const QString &why);
    // The probe has answered, whatever it said.
    void probeAnswered();

private:
    bool outputIsInput() const;
    void recordingProbed();
    void recordingScanned(bool ok);
    void showRecordingInfo();

    Recording m_recording;
    // What the recording holds and where each of its frames lies, read
    // once when it is chosen; runs and the check of a copy count on it.
    RecordingMedia m_media;
    QPointer<RunPipeline> m_pipeline;
    QString m_chosenRecording;
    QString m_outputText;
    QString m_proposedOutput;
    RunRequest::Mode m_outputMode = RunRequest::Mode::Cut;
    bool m_mencoderCutter = false;
    bool m_replaceRecording = false;
    QString m_confirmedOutput;
    QString m_refusal;
    QString m_recordingInfoText;
    Confirm m_confirm;
    std::unique_ptr<rawnames::StandIn> m_standIn;
    QString m_standInRefusal;
};

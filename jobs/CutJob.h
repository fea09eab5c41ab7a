#pragma once

#include "core/CopyVerdict.h"
#include "core/MediaInfo.h"
#include "core/RunRequest.h"
#include "jobs/CopyCheck.h"
#include "jobs/CopyRoom.h"
#include "jobs/CutterCommand.h"
#include "jobs/Job.h"
#include "jobs/PartialCopy.h"
#include "jobs/RecutPolicy.h"
#include "jobs/SavedCopy.h"

#include <QPointer>

#include <memory>

class FrameExactCut;

class RecordingMedia;

// The cutter's step: the cutter writes a hidden partial copy beside the
// output (PartialCopy) from what it is handed (CutterCommand), CopyCheck
// judges it against the recording, and only a copy it keeps takes the
// output's name. A mencoder copy that fails is cut again with ffmpeg
// (RecutPolicy).
// The recording's probe and its pass must have answered before it starts.
class CutJob : public Job
{
    Q_OBJECT
public:
    CutJob(const RunRequest &request, RecordingMedia *media, QObject *parent = nullptr);
    ~CutJob() override;

    // What the run has said so far, which the step's outcome follows, and
    // the user's edits of the list in words ("2 of 3 detected breaks, 1
    // edited"), empty when there are none.
    void setContext(const QString &outcomeSoFar, const QString &editSummary);
    void start() override;
    void stop() override;

    // Set once a checked copy has taken the output's name.
    const QString &copyMade() const { return m_copyMade; }
    // mencoder failed or its copy was refused, whatever ffmpeg made after it.
    bool mencoderRefused() const { return m_recut.mencoderRefused(); }
    // The stretches of the copy whose pictures were encoded again, in
    // seconds from its first picture; empty for a copy made by stream copy
    // alone (mencoder's, the chapters file).
    QList<media::Span> reencodedRanges() const;

    // The cutters' command lines, as CutterCommand writes them.
    static QStringList mencoderArguments(const RunRequest &request, const QString &output,
                                         const QString &cutList)
    {
        return CutterCommand::mencoderArguments(request, output, cutList);
    }
    static QStringList ffmpegArguments(const RunRequest &request, const QString &list, const QString &output,
                                       media::Container container, const QStringList &streamOptions = {})
    {
        return CutterCommand::ffmpegArguments(request, list, output, container, streamOptions);
    }
    // output names recording, under whatever name.
    static bool isRecording(const QString &output, const QString &recording)
    {
        return savedcopy::isRecording(output, recording);
    }
    // copy is a checked copy Trimlet made from recording (this very file,
    // under whatever name), which a new copy of it may replace.
    static bool madeFrom(const QString &copy, const QString &recording)
    {
        return savedcopy::madeFrom(copy, recording);
    }
    // Hidden copies being written beside output: ".NAME.trimlet-XXXXXX".
    static QStringList partialCopiesOf(const QString &output) { return savedcopy::partialCopiesOf(output); }

protected:
    void toolOutput(const QString &chunk) override;
    void toolEnded(int rc, bool stopped, bool launchFailed) override;

private:
    enum class Phase { None, Cutting, Verifying };
    bool startCut(media::Cutter cutter);
    void copyJudged(const media::CopyVerdict &verdict);
    // Throws the copy away; mencoder's is cut again with ffmpeg.
    void rejectCopy(const media::CopyVerdict &verdict);
    // The frame-exact cut: its index read, then its pieces and their join
    // run one after another.
    void exactIndexed(bool ok);
    void runExactStep();
    bool chapters() const { return m_request.mode == RunRequest::Mode::Chapters; }
    // "cut copy" or "chapters file", as the texts name what is written.
    QString copyNoun() const;
    void keepCopy(const QString &measured, double copySeconds);
    void end(Status status, const QString &outcome);
    // The partial copy and the cutter's lists.
    void discardPartialCopy();
    void logToRunLog(const QString &line) { emit logged(line); }

    RunRequest m_request;
    QPointer<RecordingMedia> m_media;
    QString m_editSummary;
    Phase m_phase = Phase::None;
    media::Cutter m_cutter = media::Cutter::Mencoder;
    media::Container m_container = media::Container::ProgramStream;
    QList<media::Span> m_cuts;
    QList<media::Span> m_kept; // what the cuts leave of the recording
    double m_keptSeconds = 0;
    double m_recordingSeconds = 0;
    CopyRoom m_room;
    PartialCopy m_partial;
    CutterCommand m_command;
    RecutPolicy m_recut;
    QString m_copyMade;
    CopyCheck m_check;
    std::unique_ptr<FrameExactCut> m_exact; // the cut under way is frame-exact
    qsizetype m_exactStep = 0;
    QString m_edgesNote; // how its edges were made
};

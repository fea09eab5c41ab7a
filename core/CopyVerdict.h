#pragma once

// What the check of a cut copy found, stage by stage, as plain functions
// on what the tools said of the copy and of its recording: its frames
// counted against the kept spans, its streams and their ends, its sound
// decoded across each cut. Each stage says Kept when it finds nothing
// wrong, and the next stage is asked; the first refusal is the verdict.

#include "core/MediaInfo.h"
#include "core/PacketTimes.h"
#include "core/StreamCheck.h"

#include <QList>
#include <QString>

namespace media {

struct CopyVerdict
{
    enum class Result { Kept, Refused };
    Result result = Result::Kept;
    // What is wrong, after "The cut copy " ("is 40.0 s shorter than
    // expected"), and after "mencoder's copy " for a copy that is cut
    // again ("was 40.0 s shorter than expected").
    QString problem;
    QString mencoderProblem;
    // Whose problem it is when not the copy's as a whole ("copy's
    // pictures"); empty: the copy's.
    QString subject;
    // A line for the run log saying why, empty when there is none.
    QString runLog;
    // Where: the cut between two kept spans (from 1) and for how long the
    // copy is wrong there; 0 when the problem lies nowhere in particular.
    int cut = 0;
    double seconds = 0;

    bool kept() const { return result == Result::Kept; }
    // "The cut copy is missing sound track 2 (eng)", "The copy's pictures
    // are damaged for 1.3 s after cut 2"; noun names what was written.
    QString statement(const QString &noun) const;
};

CopyVerdict refused(const QString &problem, const QString &mencoderProblem, const QString &runLog = {});

// The copy's frames against what the recording holds in the kept spans.
struct CountFacts
{
    const PacketTimes *recording = nullptr;
    const PacketTimes *copy = nullptr;
    double videoStart = 0;
    double recordingSeconds = 0;
    QList<Span> cuts;
    double fps = 25;
    Cutter cutter = Cutter::Ffmpeg;
};
struct Counted
{
    CopyVerdict verdict;
    QString measured; // "9016 frames, 300.70 s; expected 9021 frames within 1.00 s"
    double copySeconds = 0;
};
Counted judgeCount(const CountFacts &facts);
// A chapters file holds every picture the recording can show.
Counted judgeChaptersCount(const PacketTimes &recording, const PacketTimes &copy, double fps);

// The copy's streams against the recording's: none lost, each sound
// track in step with the picture at the copy's ends and after each cut.
struct StreamFacts
{
    const MediaInfo *recording = nullptr; // with its end read, where it could be
    const MediaInfo *copy = nullptr; // none: ffprobe gave no answer
    QList<HashedPacket> recordingPackets;
    QList<HashedPacket> copyPackets;
    QList<CutWindows> cutWindows;
    QList<Span> kept;
    double recordingSeconds = 0;
    Cutter cutter = Cutter::Ffmpeg;
    // A chapters file: the chapters written, which it must hold.
    bool chapters = false;
    QList<Chapter> chaptersWritten;
};
struct StreamsJudged
{
    CopyVerdict verdict;
    QStringList diagnostics; // what was measured, for the system log
};
StreamsJudged judgeStreams(const StreamFacts &facts);

// The sound decoded across each cut of the copy (copyErrors, one a cut)
// and in the recording just before and just after each cut (two a cut);
// not judged without ffmpeg's answer.
CopyVerdict judgeSoundDecoded(const QList<int> &copyErrors, const QList<int> &recordingErrors, Cutter cutter);

} // namespace media

#include "core/CopyVerdict.h"

#include <algorithm>
#include <cmath>

namespace media {

QString CopyVerdict::statement(const QString &noun) const
{
    return QStringLiteral("The %1 ").arg(subject.isEmpty() ? noun : subject) + problem;
}

CopyVerdict refused(const QString &problem, const QString &mencoderProblem, const QString &runLog)
{
    CopyVerdict v;
    v.result = CopyVerdict::Result::Refused;
    v.problem = problem;
    v.mencoderProblem = mencoderProblem;
    v.runLog = runLog;
    return v;
}

Counted judgeCount(const CountFacts &facts)
{
    Counted c;
    const QString name = cutterName(facts.cutter);
    // ffmpeg's copy runs through the kept spans one after the other on
    // the recording's own clock; mencoder makes a clock of its own.
    const Verdict v =
        verifyAgainstRecording(*facts.recording, facts.videoStart, facts.recordingSeconds, facts.cuts,
                               *facts.copy, facts.fps, facts.cutter == Cutter::Ffmpeg);
    c.measured = QString::asprintf("%lld frames, %.2f s; expected %lld frames within %.2f s",
                                   static_cast<long long>(v.frames), v.actual,
                                   static_cast<long long>(v.expectedFrames), v.tolerance);
    c.copySeconds = v.actual;
    if (v.ok)
        return c;
    const QString log = QStringLiteral("the copy cut by %1 failed its check (%2): %3")
                            .arg(name, v.readable ? v.problem : QStringLiteral("unreadable"), c.measured);
    c.verdict = v.readable
                    ? refused(QStringLiteral("is ") + v.problem, QStringLiteral("was ") + v.problem, log)
                    : refused(QStringLiteral("could not be read"), QStringLiteral("could not be read"), log);
    return c;
}

Counted judgeChaptersCount(const PacketTimes &recording, const PacketTimes &copy, double fps)
{
    Counted c;
    // Every frame the recording can show, from its first key frame on.
    const qint64 expected = !std::isnan(recording.firstKey)
                                ? framesIn(recording, recording.firstKey, recording.times.back() + 1)
                                : recording.count();
    c.copySeconds = copy.empty() ? 0 : playingSeconds(copy) + 1 / fps;
    c.measured = QStringLiteral("%1 frames; the recording shows %2").arg(copy.count()).arg(expected);
    if (copy.empty())
        c.verdict = refused(QStringLiteral("could not be read"), QString());
    else if (copy.count() < expected)
        c.verdict =
            refused(QStringLiteral("is missing %1 of the recording's %2 frames")
                        .arg(expected - copy.count())
                        .arg(expected),
                    QString(), QStringLiteral("the chapters file failed its check: %1").arg(c.measured));
    return c;
}

namespace {

bool sameChapters(const QList<Chapter> &found, const QList<Chapter> &written)
{
    if (found.size() != written.size())
        return false;
    for (qsizetype i = 0; i < found.size(); ++i)
        if (found.at(i).title != written.at(i).title)
            return false;
    return true;
}

} // namespace

StreamsJudged judgeStreams(const StreamFacts &facts)
{
    StreamsJudged judged;
    const QString name = cutterName(facts.cutter);
    if (!facts.copy || !facts.copy->parsed) {
        judged.verdict =
            refused(QStringLiteral("could not be read"), QStringLiteral("could not be read"),
                    QStringLiteral("ffprobe gave no answer on the streams of the copy cut by %1").arg(name));
        return judged;
    }
    const MediaInfo &recording = *facts.recording;
    const MediaInfo &copy = *facts.copy;
    if (facts.chapters && !sameChapters(copy.chapters, facts.chaptersWritten)) {
        const QString problem = QStringLiteral("has %1 chapters where %2 were written")
                                    .arg(copy.chapters.size())
                                    .arg(facts.chaptersWritten.size());
        judged.verdict = refused(problem, QString(), QStringLiteral("the chapters file ") + problem);
        return judged;
    }
    const TrackCheck tracks = compareStreams(recording, copy);
    if (!tracks.problem.isEmpty()) {
        judged.verdict =
            refused(QStringLiteral("is ") + tracks.problem, QStringLiteral("was ") + tracks.problem,
                    QStringLiteral("the copy cut by %1 is %2").arg(name, tracks.problem));
        return judged;
    }
    // The copy's ends are the recording's own where nothing was cut there.
    // mencoder makes a clock of its own and starts and ends its streams
    // together at a cut; ffmpeg's concat input switches the sound and the
    // picture at a cut a few hundred milliseconds apart, in step all the
    // same, so its ends are judged only where they are the recording's.
    const Edge atCut = facts.cutter == Cutter::Mencoder ? Edge::Cut : Edge::NotJudged;
    const bool wholeStart = facts.chapters || facts.kept.isEmpty() || facts.kept.first().start <= 0;
    const bool wholeEnd =
        facts.chapters || facts.kept.isEmpty() || facts.kept.last().end >= facts.recordingSeconds;
    const QString drift = soundOutOfStep(recording, copy, tracks.pairs, wholeStart ? Edge::Recording : atCut,
                                         wholeEnd ? Edge::Recording : atCut);
    if (!drift.isEmpty()) {
        judged.verdict = refused(QStringLiteral("is ") + drift, QStringLiteral("was ") + drift,
                                 QStringLiteral("the copy cut by %1 is %2").arg(name, drift));
        return judged;
    }
    // As far as ffprobe's packet times tell: a player keeps to them.
    const SoundAtCuts moved = soundMovedAtCuts(recording, copy, tracks.pairs, facts.recordingPackets,
                                               facts.copyPackets, facts.cutWindows);
    for (const QString &offset : moved.measured)
        judged.diagnostics << QStringLiteral("sound moved against its picture: ") + offset;
    for (const QString &where : moved.unmeasured)
        judged.diagnostics << QStringLiteral(
                                  "not judged: %1 - none of the copy's packets found in the recording")
                                  .arg(where);
    if (!moved.problem.isEmpty())
        judged.verdict =
            refused(QStringLiteral("has ") + moved.problem, QStringLiteral("had ") + moved.problem,
                    QStringLiteral("the copy cut by %1 has %2").arg(name, moved.problem));
    return judged;
}

CopyVerdict judgeSoundDecoded(const QList<int> &copy, const QList<int> &recording, Cutter cutter)
{
    // Without ffmpeg's answer the sound is not judged, as a copy's ends
    // are not where ffprobe lists no packets.
    if (copy.isEmpty() || recording.size() != 2 * copy.size())
        return CopyVerdict();
    QList<int> before, after;
    for (qsizetype k = 0; k < copy.size(); ++k) {
        before << recording.at(2 * k);
        after << recording.at(2 * k + 1);
    }
    const QString broken = soundBrokenAtCuts(copy, before, after);
    if (broken.isEmpty())
        return CopyVerdict();
    return refused(QStringLiteral("has ") + broken, QStringLiteral("had ") + broken,
                   QStringLiteral("the copy cut by %1 has %2").arg(cutterName(cutter), broken));
}

} // namespace media

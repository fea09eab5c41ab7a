#include "jobs/CopyCheck.h"

#include "core/Diagnostics.h"
#include "core/PacketTimes.h"
#include "jobs/RecordingMedia.h"

#include <cmath>
#include <limits>

namespace {

// Seconds before the last picture from which each file is read again to
// see where its streams end.
constexpr double kTailSeconds = 10;

// Pictures of programme a cutter that cuts from key frame to key frame may
// lose at an edge: where its clock puts the out-point a frame or two
// before the list's, as ffmpeg's concat input does.
constexpr int kKeyFrameCutterLost = 3;

} // namespace

CopyCheck::CopyCheck(RecordingMedia *media, QObject *parent) : QObject(parent), m_media(media)
{
    connect(&m_copyScan, &PacketScan::finished, this, &CopyCheck::counted);
    if (media)
        connect(media, &RecordingMedia::scanned, this, &CopyCheck::counted);
    connect(&m_copyProbe, &MediaProbe::finished, this, [this](const QByteArray &json, MediaProbe::Answer a) {
        m_copyStreams =
            a == MediaProbe::Answer::Answered ? std::optional(media::parseProbe(json)) : std::nullopt;
        m_copyPackets = media::parseHashedPackets(json);
        streamsProbed();
    });
    connect(&m_recordingProbe, &MediaProbe::finished, this,
            [this](const QByteArray &json, MediaProbe::Answer a) {
                if (a == MediaProbe::Answer::Answered) {
                    m_recordingEnds = media::parseProbe(json);
                    m_recordingPackets = media::parseHashedPackets(json);
                }
                streamsProbed();
            });
    // Reading a file's end seeks in it; a whole slow file is read when it
    // cannot.
    m_copyProbe.setTimeLimit(4 * MediaProbe::kTimeLimitMs);
    m_recordingProbe.setTimeLimit(4 * MediaProbe::kTimeLimitMs);
    connect(&m_copyDecode, &DecodeCheck::finished, this, &CopyCheck::decodeChecked);
    connect(&m_recordingDecode, &DecodeCheck::finished, this, &CopyCheck::decodeChecked);
    connect(&m_copyPictures, &PictureHashes::finished, this, &CopyCheck::picturesChecked);
    connect(&m_recordingPictures, &PictureHashes::finished, this, &CopyCheck::picturesChecked);
}

CopyCheck::~CopyCheck()
{
    cancel();
}

void CopyCheck::start(const RunRequest::Tools &tools, const QString &recording, const Input &input)
{
    cancel();
    m_tools = tools;
    m_recording = recording;
    m_in = input;
    m_measured.clear();
    m_copySeconds = 0;
    m_running = true;
    m_counting = true;
    m_copyScan.start(m_tools.ffprobe, m_in.copy);
}

void CopyCheck::cancel()
{
    m_running = false;
    m_copyDecode.cancel();
    m_recordingDecode.cancel();
    m_copyPictures.cancel();
    m_recordingPictures.cancel();
    m_copyScan.cancel();
    m_copyProbe.cancel();
    m_recordingProbe.cancel();
}

void CopyCheck::conclude(const media::CopyVerdict &verdict)
{
    m_running = false;
    if (!verdict.runLog.isEmpty())
        emit logged(verdict.runLog);
    emit finished(verdict);
}

void CopyCheck::counted()
{
    // The copy is judged against what the recording holds, which is read
    // once when it is chosen; a cut quicker than that waits for it.
    if (!m_running || !m_counting || m_copyScan.isRunning() || (m_media && m_media->scanning()))
        return;
    m_counting = false;
    if (!m_media || !m_media->scanDone()) {
        m_running = false;
        emit logged(QStringLiteral("the recording could not be read again to check the copy"));
        emit recordingUnreadable();
        return;
    }
    const media::MediaInfo &recording = *m_media->info();
    const double fps = recording.fps > 0 ? recording.fps : 25.0;
    media::Counted c;
    if (m_in.chapters) {
        c = media::judgeChaptersCount(m_media->packets(), m_copyScan.packets(), fps);
        logLine(QStringLiteral("verifyChapters: ") + c.measured);
    } else {
        c = media::judgeCount({&m_media->packets(), &m_copyScan.packets(), recording.videoStart,
                               m_in.recordingSeconds, m_in.cuts, fps, m_in.cutter});
        logLine(QStringLiteral("verifyCopy: ") + media::cutterName(m_in.cutter) + QStringLiteral(": ")
                + c.measured);
    }
    m_measured = c.measured;
    m_copySeconds = c.copySeconds;
    if (!c.verdict.kept()) {
        conclude(c.verdict);
        return;
    }
    probeStreams();
}

void CopyCheck::probeStreams()
{
    // Its picture holds what it should: now its other streams, and where
    // each ends against the picture.
    m_copyStreams.reset();
    m_copyPackets.clear();
    // The kept spans' times count from the recording's first picture; the
    // copy's from its own, wherever its cutter starts its clock.
    const media::PacketTimes &copy = m_copyScan.packets();
    m_cutWindows = m_in.chapters
                       ? QList<media::CutWindows>()
                       : media::cutWindows(m_in.kept, copy.times.front(), m_media->info()->videoStart);
    QList<media::Span> copyWindows, recordingWindows;
    for (const media::CutWindows &w : std::as_const(m_cutWindows)) {
        copyWindows << media::Span{w.copy.start - media::kReadBeforeCut, w.copy.end};
        recordingWindows << w.recording;
    }
    m_copyProbe.startWithTail(m_tools.ffprobe, m_in.copy, copy.times.back() - kTailSeconds, copyWindows);
    // The recording's end, read once, serves every copy cut from it.
    if (!m_recordingEnds)
        m_recordingProbe.startWithTail(m_tools.ffprobe, m_recording,
                                       m_media->packets().times.back() - kTailSeconds, recordingWindows);
}

void CopyCheck::streamsProbed()
{
    if (m_running && !m_copyProbe.isRunning() && !m_recordingProbe.isRunning() && !m_copyScan.isRunning())
        judgeStreams();
}

void CopyCheck::judgeStreams()
{
    const media::MediaInfo &probed = *m_media->info();
    media::StreamFacts facts;
    // Without the recording's end read again, its streams as first probed.
    facts.recording = m_recordingEnds && m_recordingEnds->parsed ? &*m_recordingEnds : &probed;
    facts.copy = m_copyStreams ? &*m_copyStreams : nullptr;
    facts.recordingPackets = m_recordingPackets;
    facts.copyPackets = m_copyPackets;
    facts.cutWindows = m_cutWindows;
    facts.kept = m_in.kept;
    facts.recordingSeconds = m_in.recordingSeconds;
    facts.cutter = m_in.cutter;
    facts.chapters = m_in.chapters;
    facts.chaptersWritten = m_in.chaptersWritten;
    const media::StreamsJudged judged = media::judgeStreams(facts);
    for (const QString &line : judged.diagnostics)
        logLine(line);
    if (!judged.verdict.kept()) {
        conclude(judged.verdict);
        return;
    }
    if (!startDecodeChecks() && !startPictureChecks())
        conclude(media::CopyVerdict());
}

bool CopyCheck::startDecodeChecks()
{
    if (m_in.chapters || m_media->info()->audio.isEmpty() || m_in.kept.size() < 2)
        return false;
    // A second and a half either side of each cut: the copy's window
    // across it, the recording's just before and just after, on each
    // file's clock from its start.
    constexpr double kSide = 1.5;
    const media::MediaInfo &info = *m_media->info();
    const double shift = info.videoStart - info.start;
    QList<media::Span> copyWindows, recordingWindows;
    for (const media::CutPlace &cut : media::cutPlaces(m_in.kept)) {
        copyWindows.append({cut.inCopy - kSide, cut.inCopy + kSide});
        recordingWindows.append({shift + cut.before - kSide, shift + cut.before});
        recordingWindows.append({shift + cut.after.start, shift + cut.after.start + kSide});
    }
    m_copyDecode.start(m_tools.ffmpeg, m_in.copy, copyWindows);
    m_recordingDecode.start(m_tools.ffmpeg, m_recording, recordingWindows);
    return true;
}

void CopyCheck::decodeChecked()
{
    if (!m_running || m_copyDecode.isRunning() || m_recordingDecode.isRunning())
        return;
    const QList<int> &copy = m_copyDecode.errors();
    const QList<int> &recording = m_recordingDecode.errors();
    if (!copy.isEmpty() && recording.size() == 2 * copy.size())
        logLine(QStringLiteral("decodeChecked: copy %1, recording %2")
                    .arg(QString::number(copy.size()), QString::number(recording.size())));
    const media::CopyVerdict sound = media::judgeSoundDecoded(copy, recording, m_in.cutter);
    if (!sound.kept() || !startPictureChecks())
        conclude(sound);
}

bool CopyCheck::startPictureChecks()
{
    if (m_in.chapters || m_in.kept.size() < 2 || !m_copyStreams || !m_copyStreams->parsed)
        return false;
    const media::MediaInfo &info = *m_media->info();
    const double gop = media::groupSeconds(m_media->packets());
    // A second either side of each cut in the copy, from the key frame
    // before. The recording's windows reach further either way, to hold
    // every picture of the copy's window even from a span that starts a
    // group early or from a cutter whose clock has wandered by half a
    // second.
    constexpr double kSide = 1.0;
    constexpr double kSlack = 0.5;
    const media::PacketTimes &copyPackets = m_copyScan.packets();
    const media::PacketTimes &recordingPackets = m_media->packets();
    const double copyFirst = copyPackets.times.front();
    // Half a picture: where a range encoded anew begins and ends, safe
    // from rounding of either clock.
    const double half = 0.5 / (info.fps > 0 ? info.fps : 25.0);
    // A window [from, to) on a file's clock: from the key frame before it
    // where its place is known, else seeking from a group earlier.
    const auto window = [gop](const media::PacketTimes &packets, double fileStart, double from, double to) {
        PictureHashes::Window w;
        w.seek = {from - fileStart - gop, to - fileStart};
        if (const std::optional<media::KeyPlace> key = media::keyAtOrBefore(packets, from)) {
            w.byteFrom = key->pos;
            w.seconds = to - key->time;
            const media::DemuxerClock clock = media::demuxerClockAt(std::llround(key->time * 90000));
            w.clockShift = double(clock.shift) / 90000;
            w.turnAdded = clock.turnAdded;
        }
        return w;
    };
    QList<QList<PictureHashes::Window>> copyWindows, recordingWindows;
    m_joins.clear();
    m_copyJudged.clear();
    const QList<media::CutPlace> cuts = media::cutPlaces(m_in.kept);
    for (qsizetype k = 0; k < cuts.size(); ++k) {
        const media::CutPlace &cut = cuts.at(k);
        const double join = copyFirst + cut.inCopy;
        // Decoding starts as far before the join as in the recording's
        // window before the cut, so that where it starts from the same key
        // frame it starts from the same bytes: an open group's first
        // pictures complain of references never read ("mmco: unref short
        // failure") when decoding starts at some of its key frames and not
        // at others, and those are no fault of the copy.
        copyWindows.append(
            {window(copyPackets, m_copyStreams->start, join - kSide - gop - kSlack, join + kSide)});
        // A span shorter than the window holds the next join too: each
        // join is judged on the pictures between its neighbours.
        const double previous = k > 0 ? copyFirst + cuts.at(k - 1).inCopy : 0;
        const double next =
            k + 1 < cuts.size() ? copyFirst + cuts.at(k + 1).inCopy : std::numeric_limits<double>::max();
        m_copyJudged.append(
            {std::max(copyWindows.last().first().byteFrom >= 0 ? join - kSide : 0.0, previous),
             std::min(join + kSide, next)});
        const double end = info.videoStart + cut.before;
        const double start = info.videoStart + cut.after.start;
        recordingWindows.append(
            {window(recordingPackets, info.start, end - kSide - gop - kSlack, end + gop + kSlack),
             window(recordingPackets, info.start, start - gop - kSlack, start + kSide + gop + kSlack)});
        media::JoinPictures j;
        j.spanEnd = end;
        j.spanStart = start;
        j.join = join;
        for (const media::Span &s : std::as_const(m_in.reencoded))
            // The first copied pictures after a stretch encoded anew may
            // be decoded with its pictures for reference (an open group's
            // B-frames), the same to the eye, not to the bit.
            j.reencoded.append({copyFirst + s.start - half, copyFirst + s.end - half + 4 * half});
        m_joins.append(j);
    }
    m_copyPictures.start(m_tools.ffmpeg, m_in.copy, copyWindows, info.videoCodec);
    m_recordingPictures.start(m_tools.ffmpeg, m_recording, recordingWindows, info.videoCodec);
    return true;
}

void CopyCheck::picturesChecked()
{
    if (!m_running || m_copyPictures.isRunning() || m_recordingPictures.isRunning())
        return;
    const QList<QList<media::Picture>> &copy = m_copyPictures.pictures();
    const QList<QList<media::Picture>> &recording = m_recordingPictures.pictures();
    // Without ffmpeg's answer the pictures are not judged, as the sound.
    if (copy.size() != m_joins.size() || recording.size() != 2 * m_joins.size()
        || m_copyPictures.errors().size() != m_joins.size()
        || m_recordingPictures.errors().size() != m_joins.size()) {
        logLine(QStringLiteral("picturesChecked: not judged - ffmpeg gave no pictures"));
        conclude(media::CopyVerdict());
        return;
    }
    const double fps = m_media->info()->fps > 0 ? m_media->info()->fps : 25.0;
    const int gopFrames = int(std::ceil(media::groupSeconds(m_media->packets()) * fps));
    QList<media::JoinJudged> judged;
    for (qsizetype k = 0; k < m_joins.size(); ++k) {
        media::JoinPictures &j = m_joins[k];
        // Decoding began at the key frame before the window, which in a
        // stretch encoded anew may lie far back: its pictures before the
        // window are not among the recording's read.
        j.copy.clear();
        for (const media::Picture &picture : copy.at(k))
            if (picture.time >= m_copyJudged.at(k).start - 0.5 / fps
                && picture.time < m_copyJudged.at(k).end - 0.5 / fps)
                j.copy.append(picture);
        j.before = recording.at(2 * k);
        j.after = recording.at(2 * k + 1);
        media::JoinJudged r = media::judgeJoin(j, fps, gopFrames + 2);
        r.copyErrors = m_copyPictures.errors().at(k);
        r.recordingErrors = m_recordingPictures.errors().at(k);
        judged.append(r);
        logLine(QStringLiteral("picturesChecked: cut %1: %2 pictures, %3 wrong, span ends %4 and starts %5 "
                               "pictures off, %6 decoder errors (%7 in the recording)")
                    .arg(k + 1)
                    .arg(j.copy.size())
                    .arg(r.wrong)
                    .arg(r.endOff)
                    .arg(r.startOff)
                    .arg(r.copyErrors)
                    .arg(r.recordingErrors));
    }
    // A cutter that copies streams starts a span at the key frame before
    // its place, up to a group of pictures early, and ends it where a
    // picture of its own clock does; it loses no programme. ffmpeg's copy
    // of a program stream leaves a packet cut short at every cut, which
    // its decoder complains of without a picture shown wrong: of such a
    // cutter only the pictures are judged.
    const media::EdgeLimits limits = m_in.frameExact
                                         ? media::EdgeLimits{1, 1, true}
                                         : media::EdgeLimits{gopFrames + 1, kKeyFrameCutterLost, false};
    const media::CopyVerdict verdict = media::judgePictures(judged, fps, limits, m_in.cutter);
    // A key-frame cut of a recording with long or open groups of pictures
    // shows pictures wrong after most cuts; refusing it would leave such
    // recordings with no copy at all until the frame-exact cut is right
    // for every recording. Its pictures are told in the log; the
    // frame-exact cut's are held to the picture.
    if (!m_in.frameExact && !verdict.kept()) {
        logLine(QStringLiteral("picturesChecked: not held to it (a key-frame cut): ")
                + verdict.statement(QStringLiteral("cut copy")));
        conclude(media::CopyVerdict());
        return;
    }
    conclude(verdict);
}

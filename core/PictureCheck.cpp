#include "core/PictureCheck.h"

#include <algorithm>
#include <cmath>

namespace media {

double thumbDifference(const QByteArray &a, const QByteArray &b)
{
    constexpr qsizetype size = qsizetype(kThumbWidth) * kThumbHeight;
    if (a.size() != size || b.size() != size)
        return 256;
    int sum = 0;
    for (qsizetype k = 0; k < size; ++k)
        sum += std::abs(int(uchar(a.at(k))) - int(uchar(b.at(k))));
    return double(sum) / double(size);
}

QList<QList<Picture>> parseFrameHashes(const QByteArray &text, int windows, const QList<QByteArray> &thumbs)
{
    constexpr qsizetype thumbSize = qsizetype(kThumbWidth) * kThumbHeight;
    QList<QList<Picture>> pictures(std::max(0, windows));
    QList<double> timeBase(pictures.size(), 0);
    for (const QByteArray &raw : text.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith("#tb ")) {
            // "#tb 0: 1001/30000"
            const qsizetype colon = line.indexOf(':');
            const int stream = line.mid(4, colon - 4).toInt();
            const QList<QByteArray> ratio = line.mid(colon + 1).trimmed().split('/');
            if (colon > 4 && stream >= 0 && stream < timeBase.size() && ratio.size() == 2
                && ratio.at(1).toDouble() > 0)
                timeBase[stream] = ratio.at(0).toDouble() / ratio.at(1).toDouble();
            continue;
        }
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        // "stream, dts, pts, duration, size, hash"
        const QList<QByteArray> fields = line.split(',');
        if (fields.size() < 6)
            continue;
        bool streamOk = false, ptsOk = false;
        const int stream = fields.at(0).trimmed().toInt(&streamOk);
        const qint64 pts = fields.at(2).trimmed().toLongLong(&ptsOk);
        if (streamOk && ptsOk && stream >= 0 && stream < pictures.size() && timeBase.at(stream) > 0) {
            const qsizetype at = pictures.at(stream).size() * thumbSize;
            const QByteArray thumb = stream < thumbs.size() && at + thumbSize <= thumbs.at(stream).size()
                                         ? thumbs.at(stream).mid(at, thumbSize)
                                         : QByteArray();
            pictures[stream].append({double(pts) * timeBase.at(stream), fields.at(5).trimmed(), thumb});
        }
    }
    for (QList<Picture> &window : pictures)
        std::stable_sort(window.begin(), window.end(),
                         [](const Picture &a, const Picture &b) { return a.time < b.time; });
    return pictures;
}

namespace {

// Whether the copy's picture is the recording's: the same pixels, or, for
// a picture encoded anew, the same to the eye.
bool same(const Picture &copy, bool anew, const Picture &recording)
{
    return copy.hash == recording.hash
           || (anew && thumbDifference(copy.thumb, recording.thumb) <= kSimilarLevels);
}

// The shift o that puts the most of the copy's pictures i on the
// recording's pictures i + o that they are; which of the copy's pictures
// it puts there is in matched. Between shifts that match as many, the one
// whose pictures encoded anew are nearest the recording's: in a slow scene
// a picture encoded anew may pass for its neighbour as well.
int bestShift(const QList<Picture> &copy, const QList<bool> &anew, const QList<Picture> &recording,
              QList<bool> &matched, int from, int to)
{
    const int c = int(copy.size()), r = int(recording.size());
    int best = -1, shift = 0;
    double bestDistance = 0;
    for (int o = 1 - c; o < r; ++o) {
        int n = 0;
        double distance = 0;
        for (int i = std::max(from, -o); i < to && i + o < r; ++i) {
            const Picture &there = recording.at(i + o);
            if (copy.at(i).hash == there.hash) {
                ++n;
            } else if (anew.at(i)) {
                const double d = thumbDifference(copy.at(i).thumb, there.thumb);
                if (d <= kSimilarLevels) {
                    ++n;
                    distance += d;
                }
            }
        }
        if (n > best || (n == best && distance < bestDistance)) {
            best = n;
            shift = o;
            bestDistance = distance;
        }
    }
    matched = QList<bool>(c, false);
    for (int i = std::max(0, -shift); i < c && i + shift < r; ++i)
        matched[i] = same(copy.at(i), anew.at(i), recording.at(i + shift));
    return shift;
}

} // namespace

JoinJudged judgeJoin(const JoinPictures &join, double fps, int firstUnjudged)
{
    JoinJudged judged;
    const QList<Picture> &copy = join.copy;
    if (copy.isEmpty() || join.before.isEmpty() || join.after.isEmpty() || fps <= 0)
        return judged;
    judged.judged = true;
    const int n = int(copy.size());
    QList<bool> anew(n, false);
    for (int i = 0; i < n; ++i)
        for (const Span &s : join.reencoded)
            anew[i] = anew[i] || (copy.at(i).time >= s.start && copy.at(i).time < s.end);
    // Each span is placed by the copy's pictures on its side of the join,
    // where the join is known: a span that starts a moment after the other
    // ends shows pictures much like it.
    int joinAt = n / 2;
    if (join.join > 0) {
        joinAt = 0;
        while (joinAt < n && copy.at(joinAt).time < join.join - 0.5 / fps)
            ++joinAt;
    }
    const bool placed = join.join > 0 && joinAt > 0 && joinAt < n;
    QList<bool> before, after;
    const int shiftBefore = bestShift(copy, anew, join.before, before, 0, placed ? joinAt : n);
    const int shiftAfter = bestShift(copy, anew, join.after, after, placed ? joinAt : 0, n);
    int first = 0;
    while (first < n && !before.at(first) && !after.at(first))
        ++first;
    // Decoding that starts between key frames shows nothing right until the
    // next one, in the recording's windows as in the copy's.
    const int from = std::min(first, firstUnjudged);
    // The last picture the list keeps before the cut and the first after it.
    const double half = 0.5 / fps;
    int lastKept = -1;
    while (lastKept + 1 < join.before.size() && join.before.at(lastKept + 1).time < join.spanEnd - half)
        ++lastKept;
    int firstKept = 0;
    while (firstKept < join.after.size() && join.after.at(firstKept).time < join.spanStart - half)
        ++firstKept;
    // The copy changes from the span before to the span after at one
    // picture: the place that leaves the fewest pictures wrong, and of
    // those the one nearest the list.
    int bestSplit = from, bestWrong = n + 1, bestOff = 0;
    for (int split = from; split <= n; ++split) {
        int wrong = 0, end = -1, start = -1;
        for (int i = from; i < n; ++i) {
            const bool right = i < split ? before.at(i) : after.at(i);
            wrong += !right;
            if (i < split && right)
                end = i;
            if (i >= split && right && start < 0)
                start = i;
        }
        const int endOff = end >= 0 ? end + shiftBefore - lastKept : 0;
        const int startOff = start >= 0 ? firstKept - (start + shiftAfter) : 0;
        const int off = std::abs(endOff) + std::abs(startOff);
        if (wrong < bestWrong || (wrong == bestWrong && off < bestOff)) {
            bestWrong = wrong;
            bestOff = off;
            bestSplit = split;
            judged.endOff = endOff;
            judged.startOff = startOff;
        }
    }
    int firstWrong = -1, lastWrong = -1;
    for (int i = from; i < n; ++i) {
        const bool right = i < bestSplit ? before.at(i) : after.at(i);
        if (right)
            continue;
        if (firstWrong < 0)
            firstWrong = i;
        lastWrong = i;
    }
    judged.wrong = bestWrong;
    if (firstWrong >= 0) {
        judged.wrongSeconds = double(lastWrong - firstWrong + 1) / fps;
        judged.wrongAfter = firstWrong >= bestSplit;
    }
    return judged;
}

CopyVerdict judgePictures(const QList<JoinJudged> &joins, double fps, EdgeLimits limits, Cutter cutter)
{
    const auto beyond = [&limits](int off) {
        return (off > limits.gained || -off > limits.lost) ? std::abs(off) : 0;
    };
    for (qsizetype k = 0; k < joins.size(); ++k) {
        const JoinJudged &j = joins.at(k);
        if (!j.judged)
            continue;
        // A span that ends or starts beyond the tolerance is wrong by all
        // of its distance from the list.
        const int endBeyond = beyond(j.endOff);
        const int startBeyond = beyond(j.startOff);
        const bool complained = limits.cleanDecode && j.copyErrors > j.recordingErrors;
        if (j.wrong == 0 && endBeyond == 0 && startBeyond == 0 && !complained)
            continue;
        const double seconds =
            std::max({j.wrongSeconds, double(endBeyond) / fps, double(startBeyond) / fps, 0.1});
        const bool after = j.wrong > 0 ? j.wrongAfter : complained || startBeyond > 0;
        const QString where = QStringLiteral("for %1 s %2 cut %3")
                                  .arg(QString::number(seconds, 'f', 1),
                                       after ? QStringLiteral("after") : QStringLiteral("before"))
                                  .arg(k + 1);
        CopyVerdict v = refused(
            QStringLiteral("are damaged ") + where, QStringLiteral("had pictures damaged ") + where,
            QStringLiteral("the copy cut by %1 has pictures damaged %2 (%3 not the recording's; the span "
                           "before ends %4 and the one after starts %5 pictures away from the list; %6 "
                           "decoder errors against %7 in the recording)")
                .arg(cutterName(cutter), where)
                .arg(j.wrong)
                .arg(j.endOff)
                .arg(j.startOff)
                .arg(j.copyErrors)
                .arg(j.recordingErrors));
        v.subject = QStringLiteral("copy's pictures");
        v.cut = int(k + 1);
        v.seconds = seconds;
        return v;
    }
    return CopyVerdict();
}

} // namespace media

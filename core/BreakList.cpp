#include "core/BreakList.h"

#include "core/ResultParsers.h"
#include "core/TimeText.h"

#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <limits>

namespace breaks {

void recompute(CommercialList &list)
{
    std::stable_sort(list.begin(), list.end(),
                     [](const Commercial &a, const Commercial &b) { return a.start < b.start; });
    // As the frame list reader counts: the programme's position at a break
    // is the sum of the gaps before it; a kept break stays programme.
    qint64 position = 0;
    qint64 lastEnd = 0;
    for (Commercial &c : list) {
        c.length = c.end - c.start + 1;
        const qint64 at = position + (qint64(c.start) - lastEnd);
        c.brk = int(std::clamp<qint64>(at, 0, std::numeric_limits<int>::max()));
        if (c.cut) {
            position = at;
            lastEnd = c.end;
        }
    }
}

QString problemWith(const CommercialList &list, int row, int start, int end, int totalFrames)
{
    if (start < 0 || end < 0)
        return QStringLiteral("A break cannot start or end before the recording does.");
    if (totalFrames > 0 && (start >= totalFrames || end >= totalFrames))
        return QStringLiteral("A break cannot run past the end of the recording.");
    if (end <= start)
        return QStringLiteral("A break's start must come before its end.");
    // The frame list's reader drops anything shorter, so a shorter break
    // would be cut yet vanish from the table once reopened.
    if (qint64(end) - start + 1 < results::kMinCommercialFrames)
        return QStringLiteral("A break must be at least %1 frames long.").arg(results::kMinCommercialFrames);
    for (int i = 0; i < list.size(); ++i) {
        if (i == row)
            continue;
        const Commercial &o = list.at(i);
        if (start <= o.end && end >= o.start)
            return QStringLiteral("Breaks cannot overlap: this one would run into break %1.").arg(i + 1);
    }
    return QString();
}

std::optional<int> framesFromText(const QString &text, float fps)
{
    if (!(fps > 0) || !std::isfinite(fps))
        return std::nullopt;
    static const QRegularExpression kTime(
        QStringLiteral(R"(^\s*(?:(\d+):)?(\d{1,2}):(\d{1,2})(?:([.,;])(\d{1,3}))?\s*$)"));
    const QRegularExpressionMatch m = kTime.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    const qint64 hours = m.captured(1).isEmpty() ? 0 : m.captured(1).toLongLong();
    const int minutes = m.captured(2).toInt();
    const int seconds = m.captured(3).toInt();
    if (minutes > 59 || seconds > 59 || hours > 1000)
        return std::nullopt;
    double whole = double(hours * 3600 + minutes * 60 + seconds);
    double frames = std::round(whole * double(fps));
    if (!m.captured(5).isEmpty()) {
        const QString part = m.captured(5);
        if (m.captured(4) == QLatin1String(";")) {
            // Frames after the seconds, as editors count them.
            const int f = part.toInt();
            if (f >= int(std::ceil(fps)))
                return std::nullopt;
            frames += f;
        } else {
            const double fraction = part.toDouble() / std::pow(10.0, part.size());
            frames = std::round((whole + fraction) * double(fps));
        }
    }
    if (frames > double(std::numeric_limits<int>::max()))
        return std::nullopt;
    return int(frames);
}

QString frameTimeText(int frame, float fps)
{
    if (!(fps > 0) || !std::isfinite(fps) || frame < 0)
        return QString();
    const qint64 hundredths = std::llround(double(frame) / double(fps) * 100.0);
    return QString::asprintf("%lld:%02lld:%02lld.%02lld", hundredths / 360000, hundredths / 6000 % 60,
                             hundredths / 100 % 60, hundredths % 100);
}

QByteArray frameListText(int totalFrames, float fps, const CommercialList &list)
{
    QByteArray text = "FILE PROCESSING COMPLETE  " + QByteArray::number(totalFrames) + " FRAMES AT  "
                      + QByteArray::number(qRound(double(fps) * 100.0)) + "\n-------------------\n";
    for (const Commercial &c : list)
        if (c.cut)
            text += QByteArray::number(c.start) + '\t' + QByteArray::number(c.end) + '\n';
    return text;
}

QByteArray edlText(float fps, const CommercialList &list)
{
    QByteArray text;
    if (!(fps > 0))
        return text;
    // The end is inclusive in frames; the EDL's end is where the next frame starts.
    for (const Commercial &c : list)
        if (c.cut)
            text += QByteArray::number(double(c.start) / double(fps), 'f', 2) + '\t'
                    + QByteArray::number(double(c.end + 1) / double(fps), 'f', 2) + "\t0\n";
    return text;
}

CommercialList merged(const CommercialList &approved, const CommercialList &detected)
{
    CommercialList out = approved;
    for (Commercial &c : out)
        c.cut = true;
    for (Commercial d : detected) {
        const bool covered = std::any_of(approved.begin(), approved.end(), [&](const Commercial &a) {
            return d.start <= a.end && d.end >= a.start;
        });
        if (!covered) {
            d.cut = false;
            out.append(d);
        }
    }
    recompute(out);
    return out;
}

int cutCount(const CommercialList &list)
{
    return int(std::count_if(list.begin(), list.end(), [](const Commercial &c) { return c.cut; }));
}

int editedCount(const CommercialList &list, const CommercialList &detected)
{
    int edited = 0;
    for (const Commercial &c : list) {
        const bool same = std::any_of(detected.begin(), detected.end(), [&](const Commercial &d) {
            return d.start == c.start && d.end == c.end;
        });
        if (!same || !c.cut)
            ++edited;
    }
    // Detected breaks that are gone altogether count too.
    for (const Commercial &d : detected) {
        const bool present = std::any_of(list.begin(), list.end(), [&](const Commercial &c) {
            return d.start <= c.end && d.end >= c.start;
        });
        if (!present)
            ++edited;
    }
    return edited;
}

} // namespace breaks

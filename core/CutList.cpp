#include "core/CutList.h"

#include <algorithm>
#include <cmath>

namespace media {

std::optional<QList<Span>> parseEdlCuts(const QByteArray &text)
{
    QList<Span> cuts;
    for (const QByteArray &raw : text.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.isEmpty())
            continue;
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 2)
            return std::nullopt;
        bool okStart = false, okEnd = false;
        const double start = fields.at(0).toDouble(&okStart);
        const double end = fields.at(1).toDouble(&okEnd);
        if (!okStart || !okEnd || !std::isfinite(start) || !std::isfinite(end))
            return std::nullopt;
        const int action = fields.size() > 2 ? fields.at(2).toInt() : 0;
        if ((action == 0 || action == 3) && end > start)
            cuts.append({start, end});
    }
    return cuts;
}

QList<Span> normalisedCuts(QList<Span> cuts, double seconds)
{
    std::sort(cuts.begin(), cuts.end(), [](const Span &a, const Span &b) { return a.start < b.start; });
    QList<Span> out;
    for (Span c : std::as_const(cuts)) {
        c.start = std::clamp(c.start, 0.0, seconds);
        c.end = std::clamp(c.end, 0.0, seconds);
        if (c.end <= c.start)
            continue;
        if (!out.isEmpty() && c.start <= out.last().end)
            out.last().end = std::max(out.last().end, c.end);
        else
            out.append(c);
    }
    return out;
}

QList<Span> keptSpans(const QList<Span> &cuts, double seconds)
{
    QList<Span> kept;
    double from = 0;
    for (const Span &c : normalisedCuts(cuts, seconds)) {
        if (c.start > from)
            kept.append({from, c.start});
        from = c.end;
    }
    if (seconds > from)
        kept.append({from, seconds});
    return kept;
}

double totalLength(const QList<Span> &spans)
{
    double total = 0;
    for (const Span &s : spans)
        total += s.end - s.start;
    return total;
}

QList<CutPlace> cutPlaces(const QList<Span> &kept)
{
    QList<CutPlace> places;
    double at = 0;
    for (qsizetype k = 0; k + 1 < kept.size(); ++k) {
        at += kept.at(k).end - kept.at(k).start;
        places.append({at, kept.at(k).end, kept.at(k + 1)});
    }
    return places;
}

QByteArray edlText(const QList<Span> &cuts, int action)
{
    QByteArray text;
    for (const Span &c : cuts)
        text += QByteArray::number(c.start, 'f', 3) + '\t' + QByteArray::number(c.end, 'f', 3) + '\t'
                + QByteArray::number(action) + '\n';
    return text;
}

QList<Chapter> chaptersFor(const QList<Span> &cuts, double seconds)
{
    QList<Chapter> chapters;
    for (const Span &c : normalisedCuts(cuts, seconds))
        chapters.append({c.start, c.end, QStringLiteral("Commercial")});
    for (const Span &k : keptSpans(cuts, seconds))
        chapters.append({k.start, k.end, QStringLiteral("Programme")});
    std::sort(chapters.begin(), chapters.end(),
              [](const Chapter &a, const Chapter &b) { return a.start < b.start; });
    return chapters;
}

QByteArray ffmetadataText(const QList<Chapter> &chapters, double offset)
{
    // Milliseconds, so that rounding never makes a chapter end after the
    // next one starts.
    const auto ms = [offset](double seconds) {
        return QByteArray::number(qint64(std::llround(std::max(0.0, seconds + offset) * 1000)));
    };
    QByteArray text = ";FFMETADATA1\n";
    // The first chapter starts the file, whatever stream starts it.
    for (const Chapter &c : chapters)
        text +=
            "[CHAPTER]\nTIMEBASE=1/1000\nSTART=" + (&c == &chapters.first() ? QByteArray("0") : ms(c.start))
            + "\nEND=" + ms(c.end) + "\ntitle=" + c.title.toUtf8() + '\n';
    return text;
}

QByteArray concatList(const QString &fileName, const QList<Span> &kept, double seconds, double startOffset)
{
    // The name is quoted; a quote inside it is closed, escaped and reopened.
    QString quoted = fileName;
    quoted.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    QByteArray list = "ffconcat version 1.0\n";
    const auto stamp = [&](double t) { return QByteArray::number(t + startOffset, 'f', 6); };
    for (const Span &s : kept) {
        list += "file '" + quoted.toUtf8() + "'\n";
        // The first span starts where the file does and the last ends with
        // it: no point is set there, so nothing at either end is lost.
        if (s.start > 0)
            list += "inpoint " + stamp(s.start) + '\n';
        if (s.end < seconds)
            list += "outpoint " + stamp(s.end) + '\n';
    }
    return list;
}

} // namespace media

#pragma once

// The arithmetic of a cut list: the cuts as the detector or the user gives
// them, what they keep of the recording, and the lists and chapters the
// cutters and players read. Plain functions on plain data.

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace media {

// A chapter of a Matroska file, as ffprobe -show_chapters lists it, or as
// a file is to be given them.
struct Chapter
{
    double start = 0; // seconds
    double end = 0;
    QString title;
};

// A cut list as seconds from the start of the recording.
struct Span
{
    double start = 0;
    double end = 0;
};
// EDL lines "start end action" (action 0 or 3 cuts). None for text that is
// not an EDL at all; lines that are not cuts are left out.
std::optional<QList<Span>> parseEdlCuts(const QByteArray &text);
// The cuts sorted, merged where they overlap and clipped to [0, seconds].
QList<Span> normalisedCuts(QList<Span> cuts, double seconds);
// What is left of [0, seconds] once the cuts are taken out.
QList<Span> keptSpans(const QList<Span> &cuts, double seconds);
double totalLength(const QList<Span> &spans);
// Where each cut falls between two kept spans: in the copy, counted from
// its start, and in the recording, the end of the span before it and the
// span after it.
struct CutPlace
{
    double inCopy = 0;
    double before = 0;
    Span after;
};
QList<CutPlace> cutPlaces(const QList<Span> &kept);
// An EDL that any cutter reads alike: "start end 0" a cut, in order. With
// action 3, Kodi's commercial break, which its player skips once, so that
// the viewer can go back into it.
QByteArray edlText(const QList<Span> &cuts, int action = 0);

// The recording from end to end as chapters, a break "Commercial" and the
// rest "Programme", with no gap between them.
QList<Chapter> chaptersFor(const QList<Span> &cuts, double seconds);
// ffmpeg's metadata file giving chapters, each moved on by offset seconds
// (where the recording's picture starts in the file ffmpeg writes).
QByteArray ffmetadataText(const QList<Chapter> &chapters, double offset);

// An ffconcat list naming fileName once per kept span, with in and out
// points in the file's own time (offset by its first timestamp).
QByteArray concatList(const QString &fileName, const QList<Span> &kept, double seconds, double startOffset);

} // namespace media

#pragma once

// The pictures of a copy across each cut, against the recording's at the
// same places: decoded in short windows with ffmpeg, each picture known
// by the hash of its decoded pixels, so that a stream-copied picture is
// the recording's bit for bit. Plain functions on those lists.

#include "core/CopyVerdict.h"

#include <QByteArray>
#include <QList>

namespace media {

struct Picture
{
    double time = 0; // seconds on the file's clock
    QByteArray hash;
    // The picture shrunk to kThumbWidth × kThumbHeight grey levels, to
    // tell whether a picture encoded anew shows what the recording's does.
    QByteArray thumb;
};

constexpr int kThumbWidth = 32;
constexpr int kThumbHeight = 24;
// A picture encoded anew is the recording's when their thumbnails differ
// by at most this many grey levels (of 255) on average. Encoding at the
// quality the frame-exact cut uses stayed below 0.62 on the test
// recordings (H.264, HEVC, MPEG-2, open groups encoded whole); the picture
// next to it differed by 2.6 at the median and by 0.9 or more in 95 of 100
// places. A still picture and its neighbour cannot be told apart, which at
// a frame's tolerance does no harm.
constexpr double kSimilarLevels = 1.0;

// Mean absolute difference of two thumbnails, in grey levels; above any
// limit where either is missing.
double thumbDifference(const QByteArray &a, const QByteArray &b);

// ffmpeg's -f framehash output with -copyts, one output stream a window:
// each window's pictures in the order shown. thumbs, where given, holds
// each window's thumbnails one after another in the order ffmpeg wrote
// them, as its rawvideo output of the same pictures does.
QList<QList<Picture>> parseFrameHashes(const QByteArray &text, int windows,
                                       const QList<QByteArray> &thumbs = {});

// One cut between two kept spans: the copy's pictures across it, and the
// recording's up to the end of the span before it and from the start of
// the span after it, each read from well before the place, so that the
// copy's pictures near the cut are all among them.
struct JoinPictures
{
    QList<Picture> copy;
    QList<Picture> before;
    QList<Picture> after;
    double spanEnd = 0; // on the recording's clock: where the span before ends
    double spanStart = 0; // and where the one after starts
    // Where the copy goes from the one span to the other, on its clock, as
    // the cutter was asked to join them; 0 where not known. Spans a moment
    // apart look alike, and each is placed by the pictures on its side.
    double join = 0;
    // Pictures the cutter encoded anew, on the copy's clock: not the
    // recording's bit for bit, so held to its thumbnails instead.
    QList<Span> reencoded;
};

struct JoinJudged
{
    bool judged = false; // false: a window gave no pictures
    int wrong = 0; // the copy's pictures that are none of the recording's in their place
    double wrongSeconds = 0; // from the first wrong picture to the last
    bool wrongAfter = true; // the first wrong picture is after the cut
    // Pictures the kept spans end and start away from the list: positive
    // where the copy holds more of the break, negative where it lost
    // programme.
    int endOff = 0;
    int startOff = 0;
    // What the decoder complained of in the copy's window, and in the
    // recording's on either side of the cut.
    int copyErrors = 0;
    int recordingErrors = 0;
};

// fps is the recording's frame rate; the first pictures of the copy's
// window that are none of the recording's (decoding started between key
// frames) are not judged, up to firstUnjudged of them.
JoinJudged judgeJoin(const JoinPictures &join, double fps, int firstUnjudged);

// How many pictures a span may end or start away from the list: of the
// break kept, and of the programme lost; and whether the decoder's
// complaints at a cut where the recording has none refuse the copy even
// when every picture shown is right.
struct EdgeLimits
{
    int gained = 1;
    int lost = 1;
    bool cleanDecode = true;
};

// The copy is refused at the first cut where a picture is wrong, the
// decoder complains more than in the recording there, or a span ends or
// starts beyond the limits: "The copy's pictures are damaged for
// 1.3 s after cut 2".
CopyVerdict judgePictures(const QList<JoinJudged> &joins, double fps, EdgeLimits limits, Cutter cutter);

} // namespace media

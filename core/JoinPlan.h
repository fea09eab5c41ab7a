#pragma once

// The arithmetic of a frame-exact cut. A long-GOP stream can only be copied
// from a key frame on, so each kept span is made of up to three pieces: the
// pictures from the exact in-point to the next key frame re-encoded (the
// head), the whole groups of pictures between copied packet for packet (the
// middle), and the pictures from the last key frame to the exact out-point
// re-encoded (the tail). Which packets belong to which piece, and which
// bytes of the recording each piece must read, is decided here from the
// recording's own packet list, never from a tool's seek, whose landing in a
// transport stream is any packet at all.
//
// Times are ticks of the 90 kHz clock MPEG streams carry.

#include "core/MediaInfo.h"
#include "core/PacketTimes.h"
#include "core/VideoIndex.h"

#include <QList>
#include <QString>

#include <vector>

namespace media {

// How one edge of a kept span was made.
enum class EdgeWay {
    Recording, // the recording's own start or end: nothing cut there
    OnKeyFrame, // the edge is a key frame: copied as it is
    Reencoded, // re-encoded between the edge and the nearest key frame
    ToCleanStart, // the key frames next to it cannot start a copy: re-encoded further, to one that can
    WholeSpan, // no whole group of pictures to copy: the span re-encoded from end to end
};

struct Piece
{
    bool copy = false; // packets copied; else decoded and encoded again
    qint64 from = 0; // the pictures shown, [from, to)
    qint64 to = 0;
    qint64 byteFrom = 0; // the bytes of the recording the piece reads, [byteFrom, byteTo)
    qint64 byteTo = 0;
    // How the demuxer reading those bytes counts the clock.
    DemuxerClock clock;
};

struct SpanPlan
{
    qint64 from = 0; // the first picture kept
    qint64 to = 0; // where the span ends: the next picture's time
    qint64 frames = 0;
    QList<Piece> pieces;
    EdgeWay in = EdgeWay::Recording;
    EdgeWay out = EdgeWay::Recording;
    qint64 inTicks = 0; // re-encoded after the in-point
    qint64 outTicks = 0; // re-encoded before the out-point
    bool uncleanKeys = false; // it holds key frames that no copy can start at
    // The bytes that hold the span's sound and subtitles, which a
    // broadcast sends up to a second or two away from their pictures.
    qint64 soundByteFrom = 0;
    qint64 soundByteTo = 0;
    DemuxerClock soundClock;
};

struct JoinPlan
{
    QList<SpanPlan> spans;
    qint64 frameTicks = 0; // one picture's length
    qint64 origin = 0; // the recording's first picture, where the kept spans count from
    QString problem; // empty when the plan can be made
};

// kept: seconds from the recording's first picture (at videoStart seconds
// on its clock), as the detector writes them; seconds is the recording's
// length on that count. packets in decode order; fileSize its bytes.
// readBefore: packets read before the first one a piece needs, where a
// picture may begin inside a packet of the container that carries the end
// of the one before (a program stream): a demuxer started there gives the
// first picture the time of the packet it starts in, which is its
// predecessor's. The pictures read too many are left out by time.
// others: the packets of every other stream (sound, subtitles), each with
// its time on the same clock and its place, in any order.
JoinPlan planJoins(const std::vector<VideoPacket> &packets, const QList<Span> &kept, double videoStart,
                   double seconds, qint64 fileSize, int readBefore = 0,
                   const std::vector<VideoPacket> &others = {});

// How a demuxer started at byte `from` of the recording counts the clock
// (demuxerClockAt): the first picture's packet from there on stands for
// the first stamp it reads.
DemuxerClock demuxerClock(const std::vector<VideoPacket> &packets, qint64 from);

// The stretches of the copy made of re-encoded pictures, in seconds from
// the copy's first picture.
QList<Span> reencodedInCopy(const JoinPlan &plan);

// The kept spans as the copy holds them: the first starts no earlier than
// the first picture the plan could take, which in a recording tuned in
// mid-group whose decoder shows pictures before its first key frame (HEVC)
// is that key frame. Each later span is held to the list.
QList<Span> keptInCopy(const JoinPlan &plan, const QList<Span> &kept);

// How the edges were made, in words for the status: how many, how much was
// re-encoded, and each edge that was not made at its own key frame ("" when
// nothing was cut).
QString edgesText(const JoinPlan &plan);

} // namespace media

#pragma once

// What a file really holds, frame by frame: the times of its video packets
// as ffprobe lists them. A broadcast's clock can jump, stop for a dropout or
// change its frame rate halfway, so neither the container's length nor one
// frame rate says how many frames lie between two places on that clock;
// counting the packets does. The check of a cut copy is built on it.

#include "core/MediaInfo.h"

#include <QByteArrayView>
#include <QList>
#include <QString>

#include <limits>
#include <optional>
#include <vector>

namespace media {

// A key frame and where its packet starts in the file, -1 where the
// reader did not say: a decoder started there shows every picture from it
// on, where one started at a time seeks to whatever packet is nearest.
struct KeyPlace
{
    double time = 0;
    qint64 pos = -1;
};

// The 33-bit clock of a program or transport stream goes round every 26.5
// hours. A demuxer started inside a file counts it on from the value its
// first time stamp has, modulo the wrap, so that times read after a wrap
// seem 26.5 hours early. When that first stamp lies in the last minute
// before a wrap, it counts from the next turn instead (libavformat's wrap
// reference), and the stamps before the wrap come out negative, which
// ffmpeg's encoders and muxers do not take: such an input is given one turn
// more (-itsoffset kWrapSeconds). shift: the 90 kHz ticks to take off the
// unwrapped clock to speak that demuxer's times, the turn added included;
// 0 for a clock that never wraps.
struct DemuxerClock
{
    qint64 shift = 0;
    bool turnAdded = false; // the input needs -itsoffset kWrapSeconds
};
// For a first stamp at firstTicks on the unwrapped clock.
DemuxerClock demuxerClockAt(qint64 firstTicks);
// One turn of the clock, in ticks and in seconds as ffmpeg's options take it.
inline constexpr qint64 kClockWrap = qint64(1) << 33;
inline constexpr char kWrapSeconds[] = "95443.717689";

struct PacketTimes
{
    std::vector<double> times; // seconds on the file's clock, in order once finished
    std::vector<KeyPlace> keys; // in the order read
    double maxKeyInterval = 0; // longest stretch between two key frames, seconds
    // A clock may read negative (one that starts in the last minute before
    // its 33-bit wrap, as libavformat counts it): no time is a mark.
    double lastKey = std::numeric_limits<double>::quiet_NaN(); // while reading: the last key frame's time
    double firstKey = std::numeric_limits<double>::quiet_NaN(); // the first key frame's time, NaN when none

    bool empty() const { return times.empty(); }
    qint64 count() const { return qint64(times.size()); }
};

// One line of `ffprobe -show_entries packet=pts_time,dts_time,pos,flags -of
// csv=p=0`: "1.400000,1.366667,564,K_" (or without the place:
// "1.400000,1.366667,K_"). The time is pts, else dts; false for a line
// without either (blank lines, side data, "N/A"). pos is -1 where unknown.
bool parsePacketLine(QByteArrayView line, double &time, bool &key, qint64 &pos);
// One packet, in the order read: a key frame also extends what is known of
// the key frames.
void addPacket(PacketTimes &packets, double time, bool key, qint64 pos = -1);
// The last key frame at or before t whose place is known, for a decoder to
// start at; none where no such key frame is known.
std::optional<KeyPlace> keyAtOrBefore(const PacketTimes &packets, double t);
// Every complete line of text into packets; returns how many bytes were used.
qsizetype addPacketLines(PacketTimes &packets, QByteArrayView text);
// Puts the times in presentation order; call once after the last line.
void finishPackets(PacketTimes &packets);

// The longest group of pictures, in seconds: between 0.5 and 5, and 2 where
// the key frames are not known.
double groupSeconds(const PacketTimes &packets);
// Packets with from <= time < to.
qint64 framesIn(const PacketTimes &packets, double from, double to);
// How long the pictures play: the steps from one frame to the next, with
// a gap of the clock (a dropout, a jump) counted as one frame.
double playingSeconds(const PacketTimes &packets);
// The file's end on its own clock, in seconds from start.
double clockSeconds(const PacketTimes &packets, double start);

// The check of a cut copy against what the recording holds in the spans
// the cut list keeps. cuts are seconds on the recording's clock from its
// first video timestamp (videoStart), as the detector writes them.
// spanBySpan compares each kept span with its place in the copy, for a
// copy whose clock follows the kept spans one after the other.
Verdict verifyAgainstRecording(const PacketTimes &recording, double videoStart, double recordingSeconds,
                               const QList<Span> &cuts, const PacketTimes &copy, double fps, bool spanBySpan);

} // namespace media

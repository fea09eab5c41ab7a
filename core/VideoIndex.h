#pragma once

// The recording's picture packets as a frame-exact cut needs them: their
// times, places in the file and which can start a copy, read from
// ffprobe's and ffmpeg's own lists; and the picture stream's parameters,
// which its pieces are encoded again with.

#include <QByteArrayView>
#include <QList>
#include <QString>

#include <vector>

namespace media {

struct VideoPacket
{
    qint64 pts = 0;
    qint64 dts = 0;
    qint64 pos = -1; // where its first byte lies in the file; -1 when not known
    bool key = false;
    // A copy may begin here: the decoder needs nothing from before it once
    // the pictures shown before it are left out. An MPEG-2 I-frame, an H.264
    // IDR, an HEVC IRAP picture; not an H.264 I-frame with a recovery point,
    // whose successors keep numbering frames from pictures before it.
    bool cleanStart = false;
};

// The "packet|pts=…|dts=…|pos=…|flags=K_" lines of `ffprobe -select_streams
// v:0 -show_entries packet=pts,dts,pos,flags -of compact`, in decode order.
// The 33-bit clock is unwrapped; packets without a time are left out.
// With stream given, the lines carry stream_index= and only that stream's
// are read, of any kind.
std::vector<VideoPacket> parseVideoPackets(QByteArrayView text, int stream = -1);

// The key packets' first slice as `trace_headers` tells it (the log of
// `-bsf:v noise=drop=not(key),trace_headers`): marks the key packets that a
// copy may start at. codec is ffprobe's name ("h264", "hevc"); every key
// frame of any other codec is a clean start.
void markCleanStarts(std::vector<VideoPacket> &packets, QByteArrayView trace, const QString &codec);

// One stream of `ffprobe -show_entries stream=index,codec_type,codec_name,
// profile,level,pix_fmt,field_order,color_range,color_space,color_transfer,
// color_primaries -of compact`: the "stream|index=0|codec_type=video|..."
// lines.
struct ProbedStream
{
    int index = -1;
    QString type, codec, profile, pixFmt, fieldOrder, colorRange, colorSpace, colorTransfer, colorPrimaries;
    int level = -1;
};
QList<ProbedStream> parseProbedStreams(QByteArrayView text);

} // namespace media

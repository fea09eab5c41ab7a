#pragma once

// What ffprobe says of a recording or of a cut copy, and which cutter can
// copy its streams into which container. Plain functions on plain data, so
// tests and fuzzers reach them without a tool.

#include "core/CutList.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

namespace media {

struct AudioStream
{
    QString codec; // ffprobe's codec_name: "mp2", "ac3", "aac", ...
    int channels = 0;
    QString layout; // "stereo", "5.1(side)", ...
};

// One stream as the probe lists it, in the file's order.
struct StreamInfo
{
    QString type; // "video", "audio", "subtitle", "data"
    QString codec;
    QString language; // "deu", "eng"; empty where the container carries none
    // What a transport stream says a sound track is for: "clean_effects",
    // "hearing_impaired" or "visual_impaired" (audio description); empty
    // for a plain one.
    QString role;
    std::optional<double> start; // its first timestamp, seconds
    std::optional<double> end; // where its last packet read ends, seconds
    int index = -1; // ffprobe's stream_index, which its packets name
};

struct MediaInfo
{
    bool parsed = false; // the probe's output was JSON of the right shape
    QString formatName; // "mpeg", "mpegts", "asf", ...
    double duration = 0; // seconds, the container's
    double start = 0; // the container's first timestamp, seconds
    bool hasVideo = false;
    QString videoCodec; // "mpeg2video", "h264", "hevc", ...
    int width = 0;
    int height = 0;
    double fps = 0; // frames per second of the first video stream
    double videoStart = 0; // its first picture a decoder shows, seconds
    int videoPid = -1; // its PID, in a transport stream
    double videoDuration = 0; // 0 when the container does not say
    qint64 videoPackets = -1; // counted, only when asked for
    QList<AudioStream> audio;
    int subtitleStreams = 0;
    QList<StreamInfo> streams; // every stream but cover art
    QList<Chapter> chapters;

    // Seconds of video: the stream's own length, else the container's.
    double seconds() const { return videoDuration > 0 ? videoDuration : duration; }
};

// How far into a recording its first key frame is looked for: twice the
// longest groups of pictures broadcast (6 s), and no more, as the probe
// reads these seconds' bytes when the recording is chosen, over a network
// share too.
constexpr double kHeadSeconds = 12;

// ffprobe -of json -show_format -show_streams [-count_packets] output; with
// -show_entries packet=stream_index,pts_time,duration_time, each stream's
// end is where the last of its packets listed ends. Packets listed with
// their flags instead (packet=stream_index,pts_time,flags, the first
// kHeadSeconds) say where the picture starts: for H.264 and MPEG-2, at its
// first key frame.
MediaInfo parseProbe(const QByteArray &json);
// Whether the codec's decoder shows nothing before a recording's first key
// frame (H.264, MPEG-1/2), where the detector's count of frames begins.
bool shownFromKeyFrame(const QString &codec);

// ffmpeg options that give the copy's streams the roles the recording's
// have ("-disposition:a:1 visual_impaired"): its concat input drops them.
// The copy maps video, audio and subtitles in that order.
QStringList dispositionOptions(const MediaInfo &recording);

// One line for the window, e.g. "MPEG-2 1920×1080 29.97 fps · AC-3 stereo · 1:00:03".
QString describe(const MediaInfo &info);

enum class Cutter { Mencoder, Ffmpeg };
enum class Container { ProgramStream, TransportStream, Matroska };

QString cutterName(Cutter cutter);
// ffmpeg cuts every recording to the frame; mencoder only where it was asked
// for and can copy the recording: MPEG-1/2 video with one MP2 or AC-3 sound
// track and no subtitles.
Cutter cutterFor(const MediaInfo &info, bool mencoderAsked = false, bool frameExact = false);
// The container a cutter writes for this recording: mencoder writes a
// program stream; ffmpeg keeps the recording's own family.
Container containerFor(const MediaInfo &info, Cutter cutter);
// ffmpeg's name of the container's muxer.
QString muxerName(Container container);
// The extension of a copy in that container, keeping the recording's own
// when it is one of that family.
QString extensionFor(Container container, const QString &recordingExtension);

// The recording's length in seconds: the probe's, unless the detector's
// count of frames (from its frame list) says otherwise by more than 5 %.
double recordingSeconds(const MediaInfo &info, int detectorFrames, float detectorFps);

// The check of a cut copy against what the cut list promised (made by
// verifyAgainstRecording, in PacketTimes.h).
struct Verdict
{
    bool ok = false;
    bool readable = false;
    double expected = 0; // seconds the copy should hold
    double actual = 0; // seconds it holds, counted in frames
    double tolerance = 0;
    qint64 frames = 0;
    qint64 expectedFrames = 0; // what the recording holds in the kept spans
    QString problem; // empty when ok: "22.0 s shorter than expected", ...
};

// ffmpeg -progress output: the last "out_time_us=" value of a chunk, in
// seconds; none when the chunk holds no complete one.
std::optional<double> scanFfmpegProgress(QStringView chunk);

} // namespace media

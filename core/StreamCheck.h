#pragma once

// Whether a cut copy still holds what the recording carries beside its
// picture: every sound track and subtitle stream, with its language and
// role, and each sound track in step with the picture at the copy's ends.
// Plain functions on what the probe said of both files.

#include "core/MediaInfo.h"

#include <QList>
#include <QString>

#include <optional>

namespace media {

// A stream of the recording and the copy's stream found for it, as places
// in their MediaInfo::streams.
struct StreamPair
{
    qsizetype recording = -1;
    qsizetype copy = -1;
};

struct TrackCheck
{
    QList<StreamPair> pairs; // the recording's video, audio and subtitle streams found in the copy
    QString problem; // empty when none was lost: "missing sound track 2 (eng)"
};

// Each of the recording's video, audio and subtitle streams is looked for
// among the copy's of the same kind, in order: the same codec, and where
// the copy's container carries them (a transport stream, Matroska), the same
// language and role. A program stream has no place for either.
TrackCheck compareStreams(const MediaInfo &recording, const MediaInfo &copy);

// "sound track 2 (eng, audio description)", counted among the recording's
// streams of its kind.
QString trackName(const MediaInfo &info, qsizetype place);

// What a copy's start or end is on the recording: the recording's own
// start or end, where its own offset between sound and picture is the
// measure; a cut, where the recording plays both on and a cutter that
// starts and ends its streams together should show none; or a place not
// judged (ffmpeg's concat input switches sound and picture at a cut a few
// hundred milliseconds apart, each on its own clock and still in step).
enum class Edge { Recording, Cut, NotJudged };

// Sound out of step: for each sound track paired, how far its start and
// end lie from the picture's in the copy, against the same in the
// recording at that edge. A difference above limit seconds is the
// problem, in words; empty when every track is in step or nothing was
// measured.
QString soundOutOfStep(const MediaInfo &recording, const MediaInfo &copy, const QList<StreamPair> &pairs,
                       Edge start, Edge end, double limit = 0.1);

// ffmpeg's "Error while decoding stream #I:S" lines counted by input I,
// for inputs 0 to inputs - 1.
QList<int> decodeErrorsByInput(const QByteArray &ffmpegErrors, int inputs);

// The sound at each cut of a copy, decoded in a window across it
// (copyErrors), against the recording's sound just before and just after
// that cut (before, after; one each a cut). Decoding that starts in the
// middle of a sound frame fails once, in the recording's windows as in the
// copy's, so the copy is held to the worse of the two and one frame more
// (the one the cut split): more failures than that mean the cut broke the
// sound. The problem in words ("sound that
// fails to decode at cut 2 (3 frames, against 1 in the recording)"), or
// empty.
QString soundBrokenAtCuts(const QList<int> &copyErrors, const QList<int> &before, const QList<int> &after);

// A packet as ffprobe lists it with -show_data_hash: the stream it
// belongs to (ffprobe's stream_index), its presentation time and the hash
// of its bytes. A stream copy carries a packet over byte for byte, so the
// same hash finds it again in the recording.
struct HashedPacket
{
    int stream = -1;
    double time = 0;
    QString hash;
};

// The packets of ffprobe's JSON that have both a time and a hash; a
// program stream's B-frames come without a time and are left out.
QList<HashedPacket> parseHashedPackets(const QByteArray &json);

// Where the packets after a cut are read: in the copy from where the kept
// span starts, in the recording around where it starts there, wide enough
// to hold them even when the cutter has gained or lost a second before.
struct CutWindows
{
    Span copy;
    Span recording;
};

// How long before each cut the copy's packets are read as well: a hole in
// the sound across the join shows only with the packets on both sides,
// and a muxer may carry the sound seconds ahead of its picture (ffmpeg's
// program streams 4.4 s at 720x576), so that a read started on the
// picture's clock finds the sound from that far on.
inline constexpr double kReadBeforeCut = 6.0;

// The windows after each cut between the kept spans, on each file's own
// clock: the copy's from copyStart, the recording's from recordingStart
// (where the spans' times count from).
QList<CutWindows> cutWindows(const QList<Span> &kept, double copyStart, double recordingStart);

// How far a stream's packets lie in the copy from where they lie in the
// recording: the shift that the packets found by their hash agree on most.
// Sound that repeats (silence, a steady tone) is found at several shifts
// and counts for less at each; of shifts as well supported, the one
// nearest near wins. None when fewer than three packets agree.
std::optional<double> packetShift(const QList<HashedPacket> &copy, int copyStream, Span copyWindow,
                                  const QList<HashedPacket> &recording, int recordingStream,
                                  Span recordingWindow, double near = 0);

struct SoundAtCuts
{
    // "sound 0.31 s behind its picture after cut 2", for the worst one
    // beyond the limit, or "sound missing for 1.49 s at cut 1" where the
    // copy's sound breaks off for longer than the recording's does there;
    // empty when every one measured is in step and whole.
    QString problem;
    // Where the copy's packets were not found in the recording (a cutter
    // that packs the stream anew), so nothing could be said: "sound track
    // 1 at cut 2".
    QStringList unmeasured;
    // What was measured, for the log: "sound at cut 1: +0.300 s".
    QStringList measured;
};

// Each sound track against its picture after each cut: how far the
// copy moved its packets from the recording's, against how far it moved
// the picture's. The recording's own offset there is kept by a copy in
// step, whatever it is.
SoundAtCuts soundMovedAtCuts(const MediaInfo &recording, const MediaInfo &copy,
                             const QList<StreamPair> &pairs, const QList<HashedPacket> &recordingPackets,
                             const QList<HashedPacket> &copyPackets, const QList<CutWindows> &windows,
                             double limit = 0.1);

} // namespace media

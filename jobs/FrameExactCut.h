#pragma once

#include "core/JoinPlan.h"
#include "core/MediaInfo.h"
#include "core/RunRequest.h"

#include <QList>
#include <QObject>
#include <QProcess>
#include <QStringList>

#include <memory>

// A cut that keeps every picture of the kept spans and no other, whatever
// the distance between key frames: the whole groups of pictures inside a
// span are copied packet for packet, the pictures between an edge and the
// nearest key frame are decoded and encoded again with the stream's own
// parameters, and the sound, subtitles and other tracks are cut at the
// same times by stream copy. The recording's video packets are indexed
// first (their times, key frames and places in the file, read with
// ffprobe), and every piece reads exactly the bytes it needs, so that no
// tool's seek decides where a piece begins.
//
// The index runs here; the pieces and the join are tool runs that the cut
// step starts one after another, as it starts any cutter.
class FrameExactCut : public QObject
{
    Q_OBJECT
public:
    // link: the recording under a plain name in workDir, where the pieces
    // are written; output: the copy.
    FrameExactCut(const RunRequest &request, const media::MediaInfo &info, const QList<media::Span> &kept,
                  double recordingSeconds, media::Container container, const QString &workDir,
                  const QString &link, const QString &output, QObject *parent = nullptr);
    ~FrameExactCut() override;

    // Reads the recording's video packets; indexed() follows.
    void index();
    void cancel();
    bool indexing() const { return m_process != nullptr; }

    const media::JoinPlan &plan() const { return m_plan; }
    // What went wrong with the index, in words.
    const QString &problem() const { return m_problem; }
    // The tool runs that make the copy, in order, once indexed; the last
    // writes the output. The seconds of pictures each one makes, for the
    // progress row.
    const QList<QStringList> &commands() const { return m_commands; }
    const QList<double> &commandSeconds() const { return m_commandSeconds; }
    // Called once every piece is written, before the last run joins them:
    // false when a piece could not be made readable to the join.
    bool readyToJoin() const;
    // The copy's re-encoded stretches, in seconds from its first picture:
    // where a picture of the copy is not the recording's own bit for bit.
    QList<media::Span> reencodedRanges() const { return media::reencodedInCopy(m_plan); }
    // The kept spans as the copy holds them, once indexed.
    QList<media::Span> keptInCopy() const { return media::keptInCopy(m_plan, m_kept); }
    // How each edge was made, for the status line.
    QString edgesText() const { return media::edgesText(m_plan); }

signals:
    void indexed(bool ok);

private:
    void runProbe();
    void runTrace();
    void ended(int rc);
    void readStreams();
    void finishIndex();
    void makeCommands();
    QStringList encoderOptions(bool onePicture) const;
    QString readingBytes(qint64 from, qint64 to) const;

    RunRequest m_request;
    media::MediaInfo m_info;
    QList<media::Span> m_kept;
    double m_seconds = 0;
    media::Container m_container;
    QString m_workDir;
    QString m_link;
    QString m_output;
    enum class Stage { Probe, Trace } m_stage = Stage::Probe;
    QProcess *m_process = nullptr;
    QByteArray m_probeOut;
    std::vector<media::VideoPacket> m_packets; // the index, read from m_probeOut
    QByteArray m_traceOut;
    QByteArray m_traceKept;
    media::ProbedStream m_stream;
    QList<int> m_others; // the streams beside the picture cut
    media::JoinPlan m_plan;
    QString m_problem;
    QList<QStringList> m_commands;
    QList<double> m_commandSeconds;
    QStringList m_pieces; // the files the join reads
};

#include "jobs/FrameExactCut.h"

#include "core/Diagnostics.h"
#include "core/TsScan.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {

constexpr double kClock = 90000.0;

QStringList ffmpegStart(const RunRequest &request)
{
    return {request.tools.ffmpeg,        QStringLiteral("-nostdin"), QStringLiteral("-hide_banner"),
            QStringLiteral("-v"),        QStringLiteral("error"),    QStringLiteral("-nostats"),
            QStringLiteral("-progress"), QStringLiteral("pipe:1"),   QStringLiteral("-y")};
}

QString seconds(double s)
{
    return QString::number(s, 'f', 6);
}

// ffprobe's profile names as the encoders take them.
QString x264Profile(const QString &profile)
{
    const QString p = profile.toLower();
    if (p.contains(QLatin1String("baseline")))
        return QStringLiteral("baseline");
    if (p == QLatin1String("main"))
        return QStringLiteral("main");
    if (p.contains(QLatin1String("4:2:2")))
        return QStringLiteral("high422");
    if (p.contains(QLatin1String("10")))
        return QStringLiteral("high10");
    if (p.contains(QLatin1String("4:4:4")))
        return QStringLiteral("high444");
    return QStringLiteral("high");
}

bool known(const QString &value)
{
    return !value.isEmpty() && value != QLatin1String("unknown") && value != QLatin1String("N/A");
}

} // namespace

FrameExactCut::FrameExactCut(const RunRequest &request, const media::MediaInfo &info,
                             const QList<media::Span> &kept, double recordingSeconds,
                             media::Container container, const QString &workDir, const QString &link,
                             const QString &output, QObject *parent)
    : QObject(parent),
      m_request(request),
      m_info(info),
      m_kept(kept),
      m_seconds(recordingSeconds),
      m_container(container),
      m_workDir(workDir),
      m_link(link),
      m_output(output)
{ }

FrameExactCut::~FrameExactCut()
{
    cancel();
}

void FrameExactCut::cancel()
{
    if (!m_process)
        return;
    QProcess *p = m_process;
    m_process = nullptr;
    p->disconnect(this);
    p->kill();
    p->waitForFinished(2000);
    p->deleteLater();
}

void FrameExactCut::index()
{
    m_probeOut.clear();
    m_packets.clear();
    m_traceOut.clear();
    m_traceKept.clear();
    runProbe();
}

void FrameExactCut::runProbe()
{
    m_stage = Stage::Probe;
    m_process = new QProcess(this);
    m_process->setProcessChannelMode(QProcess::SeparateChannels);
    m_process->setStandardInputFile(QProcess::nullDevice());
    connect(m_process, &QProcess::readyReadStandardOutput, this,
            [this] { m_probeOut += m_process->readAllStandardOutput(); });
    connect(m_process, &QProcess::finished, this,
            [this](int rc, QProcess::ExitStatus s) { ended(s == QProcess::NormalExit ? rc : -2); });
    connect(m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            ended(-3);
    });
    // A program stream's B-frames may come without a time of their own;
    // every reader of the recording here makes them up alike. Every
    // stream's packets are listed: where the sound lies in the file is
    // where the sound pieces read.
    m_process->start(
        m_request.tools.ffprobe,
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-fflags"), QStringLiteral("+genpts"),
         QStringLiteral("-show_entries"),
         QStringLiteral("packet=stream_index,pts,dts,pos,flags:stream=index,codec_type,codec_name,"
                        "profile,level,pix_fmt,field_order,color_range,color_space,"
                        "color_transfer,color_primaries"),
         QStringLiteral("-of"), QStringLiteral("compact"),
         QStringLiteral("file:") + QFileInfo(m_request.recording).absoluteFilePath()});
}

void FrameExactCut::runTrace()
{
    // Which key frames are IDR (H.264) or IRAP (HEVC) pictures: the slice
    // headers of the key packets only.
    m_stage = Stage::Trace;
    m_process = new QProcess(this);
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->setStandardInputFile(QProcess::nullDevice());
    connect(m_process, &QProcess::readyReadStandardOutput, this, [this] {
        // Only the lines that say anything here are kept.
        m_traceOut += m_process->readAllStandardOutput();
        qsizetype cut = m_traceOut.lastIndexOf('\n');
        if (cut < 0)
            return;
        QByteArray kept;
        for (const QByteArray &line : m_traceOut.left(cut).split('\n'))
            if (line.contains("Packet: ") || line.contains("nal_unit_type"))
                kept += line + '\n';
        m_traceKept += kept;
        m_traceOut = m_traceOut.mid(cut + 1);
    });
    connect(m_process, &QProcess::finished, this,
            [this](int rc, QProcess::ExitStatus s) { ended(s == QProcess::NormalExit ? rc : -2); });
    connect(m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            ended(-3);
    });
    m_process->start(m_request.tools.ffmpeg,
                     {QStringLiteral("-nostdin"), QStringLiteral("-hide_banner"), QStringLiteral("-nostats"),
                      QStringLiteral("-v"), QStringLiteral("info"), QStringLiteral("-fflags"),
                      QStringLiteral("+genpts"), QStringLiteral("-copyts"), QStringLiteral("-i"),
                      QStringLiteral("file:") + QFileInfo(m_request.recording).absoluteFilePath(),
                      QStringLiteral("-map"), QStringLiteral("0:v:0"), QStringLiteral("-c"),
                      QStringLiteral("copy"), QStringLiteral("-bsf:v"),
                      QStringLiteral("noise=drop=not(key),trace_headers"), QStringLiteral("-f"),
                      QStringLiteral("null"), QStringLiteral("-")});
}

void FrameExactCut::ended(int rc)
{
    if (!m_process)
        return;
    if (m_stage == Stage::Probe)
        m_probeOut += m_process->readAllStandardOutput();
    m_process->deleteLater();
    m_process = nullptr;
    if (rc != 0) {
        m_problem = rc == -3 ? QStringLiteral("%1 could not be started")
                                   .arg(m_stage == Stage::Probe ? QStringLiteral("ffprobe")
                                                                : QStringLiteral("ffmpeg"))
                             : QStringLiteral("its video packets could not be read (error %1)").arg(rc);
        emit indexed(false);
        return;
    }
    if (m_stage == Stage::Probe) {
        // The probe looked for the first key frame in the first seconds
        // only. One further on leaves the place the detector counts from
        // unknown, and a copy placed from the first timestamp would be off
        // by every picture before it, unseen by its check.
        readStreams();
        if (m_stream.index >= 0)
            m_packets = media::parseVideoPackets(m_probeOut, m_stream.index);
        const auto key = std::find_if(m_packets.cbegin(), m_packets.cend(),
                                      [](const media::VideoPacket &p) { return p.key; });
        if (key != m_packets.cend() && media::shownFromKeyFrame(m_info.videoCodec)) {
            const double in = double(key->pts) / kClock - m_info.videoStart;
            if (in > media::kHeadSeconds) {
                m_problem =
                    QStringLiteral("its first key frame comes %1 s after its first picture, too far in to "
                                   "know where the detector's count of frames starts")
                        .arg(in, 0, 'f', 1);
                emit indexed(false);
                return;
            }
        }
        if (m_stream.codec == QLatin1String("h264") || m_stream.codec == QLatin1String("hevc")) {
            runTrace();
            return;
        }
    }
    finishIndex();
}

void FrameExactCut::readStreams()
{
    // The first picture stream is the one cut; the others' packets are
    // only placed.
    m_stream = media::ProbedStream();
    m_others.clear();
    for (const media::ProbedStream &stream : media::parseProbedStreams(m_probeOut)) {
        if (stream.type == QLatin1String("video") && m_stream.index < 0)
            m_stream = stream;
        else if (stream.index >= 0)
            m_others << stream.index;
    }
}

void FrameExactCut::finishIndex()
{
    std::vector<media::VideoPacket> packets = std::move(m_packets);
    m_packets.clear();
    media::markCleanStarts(packets, m_traceKept, m_stream.codec);
    m_traceKept.clear();
    const QString codec = m_stream.codec;
    if (codec != QLatin1String("mpeg2video") && codec != QLatin1String("mpeg1video")
        && codec != QLatin1String("h264") && codec != QLatin1String("hevc")) {
        m_problem = QStringLiteral("its video (%1) cannot be encoded again here").arg(codec);
        emit indexed(false);
        return;
    }
    std::vector<media::VideoPacket> others;
    for (const int index : std::as_const(m_others)) {
        const std::vector<media::VideoPacket> one = media::parseVideoPackets(m_probeOut, index);
        others.insert(others.end(), one.cbegin(), one.cend());
    }
    m_probeOut.clear();
    m_plan =
        media::planJoins(packets, m_kept, m_info.videoStart, m_seconds, QFileInfo(m_request.recording).size(),
                         m_info.formatName == QLatin1String("mpegts") ? 0 : 2, others);
    if (!m_plan.problem.isEmpty()) {
        m_problem = m_plan.problem;
        emit indexed(false);
        return;
    }
    for (const media::SpanPlan &s : std::as_const(m_plan.spans)) {
        QStringList pieces;
        for (const media::Piece &p : s.pieces)
            pieces << QStringLiteral("%1 %2-%3 bytes %4-%5")
                          .arg(p.copy ? QStringLiteral("copy") : QStringLiteral("encode"))
                          .arg(p.from)
                          .arg(p.to)
                          .arg(p.byteFrom)
                          .arg(p.byteTo);
        logLine(QStringLiteral("FrameExactCut: span %1-%2, %3 frames: %4")
                    .arg(s.from)
                    .arg(s.to)
                    .arg(s.frames)
                    .arg(pieces.join(QStringLiteral(", "))));
    }
    makeCommands();
    emit indexed(!m_commands.isEmpty());
}

QString FrameExactCut::readingBytes(qint64 from, qint64 to) const
{
    // Exactly the bytes the piece needs: the demuxer starts on the packet
    // the index names, not where a seek would land.
    return QStringLiteral("subfile,,start,%1,end,%2,,:%3")
        .arg(from)
        .arg(to)
        .arg(QDir(m_workDir).filePath(m_link));
}

QStringList FrameExactCut::encoderOptions(bool onePicture) const
{
    QStringList o;
    const bool interlaced =
        m_stream.fieldOrder == QLatin1String("tt") || m_stream.fieldOrder == QLatin1String("bb")
        || m_stream.fieldOrder == QLatin1String("tb") || m_stream.fieldOrder == QLatin1String("bt");
    const bool topFirst =
        m_stream.fieldOrder == QLatin1String("tt") || m_stream.fieldOrder == QLatin1String("tb");
    // One group of pictures for the whole piece, closed, so that it needs
    // nothing outside itself; quality near the broadcast's own.
    if (m_stream.codec == QLatin1String("h264")) {
        QString params = QStringLiteral("keyint=100000:min-keyint=100000:scenecut=0:open-gop=0");
        if (interlaced)
            params += topFirst ? QStringLiteral(":tff=1") : QStringLiteral(":bff=1");
        o << QStringLiteral("-c:v") << QStringLiteral("libx264") << QStringLiteral("-preset")
          << QStringLiteral("veryfast") << QStringLiteral("-crf") << QStringLiteral("16")
          << QStringLiteral("-profile:v") << x264Profile(m_stream.profile);
        if (m_stream.level > 0)
            o << QStringLiteral("-level:v") << QString::number(m_stream.level / 10.0, 'f', 1);
        o << QStringLiteral("-x264-params") << params;
        if (interlaced)
            o << QStringLiteral("-flags") << QStringLiteral("+ildct");
    } else if (m_stream.codec == QLatin1String("hevc")) {
        // Headers with every key frame, as a broadcast sends them.
        o << QStringLiteral("-c:v") << QStringLiteral("libx265") << QStringLiteral("-preset")
          << QStringLiteral("superfast") << QStringLiteral("-crf") << QStringLiteral("18")
          << QStringLiteral("-x265-params")
          << QStringLiteral("repeat-headers=1:open-gop=0:keyint=100000:min-keyint=100000:scenecut=0:"
                            "log-level=error");
    } else {
        o << QStringLiteral("-c:v")
          << (m_stream.codec == QLatin1String("mpeg1video") ? QStringLiteral("mpeg1video")
                                                            : QStringLiteral("mpeg2video"))
          << QStringLiteral("-q:v") << QStringLiteral("2") << QStringLiteral("-bf")
          << (onePicture ? QStringLiteral("0") : QStringLiteral("2")) << QStringLiteral("-g")
          << QStringLiteral("100000") << QStringLiteral("-sc_threshold") << QStringLiteral("1000000000")
          << QStringLiteral("-flags")
          << QStringLiteral("+cgop") + QLatin1String(interlaced ? "+ildct+ilme" : "");
        // A transport stream of one MPEG-2 picture carries only its
        // presentation time, from which a demuxer that allows for B-frames
        // names no start, and the join would put it at the clock's zero. It
        // is given the decoding time a picture has in a stream with B-frames,
        // one picture earlier. Saying "low delay" instead made a decoder
        // drop the picture the piece before still held back, a picture
        // lost at the join. The plan leaves a picture alone only where the
        // span has no group to spare to take along.
        if (onePicture)
            o << QStringLiteral("-bsf:v") << QStringLiteral("setts=dts=DTS-%1").arg(m_plan.frameTicks);
    }
    if (interlaced)
        o << QStringLiteral("-top") << (topFirst ? QStringLiteral("1") : QStringLiteral("0"));
    if (known(m_stream.pixFmt))
        o << QStringLiteral("-pix_fmt") << m_stream.pixFmt;
    if (known(m_stream.colorRange))
        o << QStringLiteral("-color_range") << m_stream.colorRange;
    if (known(m_stream.colorSpace))
        o << QStringLiteral("-colorspace") << m_stream.colorSpace;
    if (known(m_stream.colorTransfer))
        o << QStringLiteral("-color_trc") << m_stream.colorTransfer;
    if (known(m_stream.colorPrimaries))
        o << QStringLiteral("-color_primaries") << m_stream.colorPrimaries;
    return o;
}

void FrameExactCut::makeCommands()
{
    m_commands.clear();
    m_commandSeconds.clear();
    m_pieces.clear();
    const double half = double(m_plan.frameTicks) / 2 / kClock;
    const bool sound = !m_info.audio.isEmpty()
                       || (m_info.subtitleStreams > 0 && m_container == media::Container::TransportStream);
    QByteArray videoList = "ffconcat version 1.0\n";
    QByteArray soundList = "ffconcat version 1.0\n";
    for (qsizetype i = 0; i < m_plan.spans.size(); ++i) {
        const media::SpanPlan &s = m_plan.spans.at(i);
        for (qsizetype j = 0; j < s.pieces.size(); ++j) {
            const media::Piece &p = s.pieces.at(j);
            const QString name = QStringLiteral("v%1_%2.ts").arg(i).arg(j);
            QStringList c = ffmpegStart(m_request);
            // The recording's own clock throughout, which the index speaks.
            c << QStringLiteral("-fflags") << QStringLiteral("+genpts") << QStringLiteral("-copyts");
            if (p.clock.turnAdded)
                c << QStringLiteral("-itsoffset") << QLatin1String(media::kWrapSeconds);
            c << QStringLiteral("-i") << readingBytes(p.byteFrom, p.byteTo) << QStringLiteral("-map")
              << QStringLiteral("0:v:0");
            if (p.copy) {
                // Leading pictures of an open group, and the next group's
                // first packets read past the end, are left out by time.
                c << QStringLiteral("-c") << QStringLiteral("copy") << QStringLiteral("-bsf:v")
                  << QStringLiteral("noise=drop=lt(pts*tb\\,%1)+gte(pts*tb\\,%2)")
                         .arg(seconds((p.from - p.clock.shift) / kClock - half),
                              seconds((p.to - p.clock.shift) / kClock - half));
            } else {
                c << QStringLiteral("-vf")
                  << QStringLiteral("trim=start=%1:end=%2")
                         .arg(seconds((p.from - p.clock.shift) / kClock - half),
                              seconds((p.to - p.clock.shift) / kClock - half))
                  << encoderOptions(p.to - p.from <= m_plan.frameTicks);
            }
            c << QStringLiteral("-an") << QStringLiteral("-sn") << QStringLiteral("-dn")
              << QStringLiteral("-mpegts_copyts") << QStringLiteral("1") << QStringLiteral("-f")
              << QStringLiteral("mpegts") << QStringLiteral("file:") + QDir(m_workDir).filePath(name);
            m_commands << c;
            m_pieces << name;
            m_commandSeconds << (p.copy ? 0.02 : 1.0) * double(p.to - p.from) / kClock;
            videoList += "file '" + name.toUtf8() + "'\nduration "
                         + seconds(double(p.to - p.from) / kClock).toUtf8() + '\n';
        }
        if (!sound)
            continue;
        // Sound and subtitles at the same times by stream copy, on the
        // recording's own clock as the pictures are: a clock that leaps
        // or a time seek would move them apart. Their bytes are read from a
        // few seconds before the span to a few after, and every packet
        // from the span's first picture's time to its end is kept, on a
        // clock that starts there.
        const double from = (s.from - s.soundClock.shift) / kClock;
        const double length = double(s.to - s.from) / kClock;
        const QString name = QStringLiteral("a%1.ts").arg(i);
        // A span that runs to the recording's end keeps its sound to the
        // end too, as far past the last picture as the recording's goes.
        const bool toTheEnd = s.out == media::EdgeWay::Recording;
        const QString keep = toTheEnd
                                 ? QStringLiteral("noise=drop=lt(pts*tb\\,%1)").arg(seconds(from))
                                 : QStringLiteral("noise=drop=lt(pts*tb\\,%1)+gte(pts*tb\\,%2)")
                                       .arg(seconds(from), seconds((s.to - s.soundClock.shift) / kClock));
        QStringList c = ffmpegStart(m_request);
        c << QStringLiteral("-copyts");
        if (s.soundClock.turnAdded)
            c << QStringLiteral("-itsoffset") << QLatin1String(media::kWrapSeconds);
        // Read from the sound's first packet, the bytes hold seconds of
        // picture before the sound's first whole frame, where the muxer
        // carries it ahead (4.4 s at 720x576): within ffmpeg's usual 5 s of
        // looking, its sample rate was not found, and the piece not written.
        c << QStringLiteral("-analyzeduration") << QStringLiteral("30M") << QStringLiteral("-probesize")
          << QStringLiteral("50M") << QStringLiteral("-i") << readingBytes(s.soundByteFrom, s.soundByteTo)
          << QStringLiteral("-map") << QStringLiteral("0:a?");
        if (m_container == media::Container::TransportStream)
            c << QStringLiteral("-map") << QStringLiteral("0:s?") << QStringLiteral("-bsf:s") << keep;
        c << QStringLiteral("-c") << QStringLiteral("copy") << QStringLiteral("-bsf:a") << keep
          << QStringLiteral("-output_ts_offset") << seconds(-from) << QStringLiteral("-mpegts_copyts")
          << QStringLiteral("1") << QStringLiteral("-f") << QStringLiteral("mpegts")
          << QStringLiteral("file:") + QDir(m_workDir).filePath(name);
        m_commands << c;
        m_pieces << name;
        m_commandSeconds << 0.02 * length;
        soundList += "file '" + name.toUtf8() + "'\ninpoint 0\n"
                     + (toTheEnd ? QByteArray() : "outpoint " + seconds(length).toUtf8() + '\n');
    }
    const auto write = [](const QString &path, const QByteArray &bytes) {
        QFile f(path);
        return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
    };
    const QString videoPath = QDir(m_workDir).filePath(QStringLiteral("video.ffconcat"));
    const QString soundPath = QDir(m_workDir).filePath(QStringLiteral("sound.ffconcat"));
    if (!write(videoPath, videoList) || (sound && !write(soundPath, soundList))) {
        m_commands.clear();
        m_problem = QStringLiteral("the lists of its pieces could not be written");
        return;
    }
    // Both lists count from the same zero, the sound's first packet where
    // the recording has it against the picture: without -copyts ffmpeg
    // would start each input at zero of its own and move the sound onto
    // the picture.
    QStringList join = ffmpegStart(m_request);
    join << QStringLiteral("-copyts") << QStringLiteral("-f") << QStringLiteral("concat")
         << QStringLiteral("-i") << videoPath;
    if (sound)
        join << QStringLiteral("-f") << QStringLiteral("concat") << QStringLiteral("-i") << soundPath;
    join << QStringLiteral("-map") << QStringLiteral("0:v");
    if (sound) {
        join << QStringLiteral("-map") << QStringLiteral("1:a?");
        if (m_container == media::Container::TransportStream)
            join << QStringLiteral("-map") << QStringLiteral("1:s?");
    }
    join << QStringLiteral("-c") << QStringLiteral("copy") << media::dispositionOptions(m_info)
         << QStringLiteral("-f") << media::muxerName(m_container) << QStringLiteral("file:") + m_output;
    m_commands << join;
    m_commandSeconds << 0.05 * media::totalLength(m_kept);
}

bool FrameExactCut::readyToJoin() const
{
    // ffmpeg takes a file for a transport stream only once it has seen ten
    // packets' sync bytes: a piece of a few black pictures encoded anew can
    // be fewer (8 packets for three at 176x120), which the join read as an
    // empty program stream and ended the copy at. Null packets, which every
    // reader passes over, make up the count.
    constexpr qint64 kFewest = 16 * media::kTsPacket;
    QByteArray null(media::kTsPacket, char(0xff));
    null[0] = 0x47;
    null[1] = 0x1f;
    null[3] = 0x10;
    for (const QString &name : m_pieces) {
        QFile piece(QDir(m_workDir).filePath(name));
        if (piece.size() >= kFewest)
            continue;
        if (!piece.open(QIODevice::Append))
            return false;
        while (piece.size() < kFewest)
            if (piece.write(null) != null.size())
                return false;
    }
    return true;
}

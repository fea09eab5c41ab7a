#include "process/PacketScan.h"

#include "process/ChildSetup.h"

#include <QFileInfo>
#include <QMetaObject>

#include <algorithm>
#include <cmath>

PacketScan::PacketScan(QObject *parent) : QObject(parent)
{
    m_quiet.setSingleShot(true);
    m_quiet.setInterval(kQuietLimitMs);
    connect(&m_quiet, &QTimer::timeout, this, [this] { end(false); });
}

PacketScan::~PacketScan()
{
    cancel();
}

void PacketScan::start(const QString &ffprobe, const QString &file, bool quick)
{
    cancel();
    m_ffprobe = ffprobe.isEmpty() ? QStringLiteral("/nonexistent/ffprobe") : ffprobe;
    m_file = QFileInfo(file).absoluteFilePath();
    m_done = false;
    run(quick ? Stage::SampleParsed : Stage::Parsed);
}

void PacketScan::run(Stage stage)
{
    m_stage = stage;
    m_packets = media::PacketTimes();
    m_pending.clear();
    m_process = new QProcess(this);
    m_process->setProcessChannelMode(QProcess::SeparateChannels);
    m_process->setStandardErrorFile(QProcess::nullDevice());
    m_process->setStandardInputFile(QProcess::nullDevice());
    setUpChild(*m_process, false);
    QStringList args{QStringLiteral("-v"), QStringLiteral("error")};
    if (stage == Stage::SampleQuick || stage == Stage::Quick)
        args << QStringLiteral("-fflags") << QStringLiteral("+nofillin+noparse");
    if (stage == Stage::SampleParsed || stage == Stage::SampleQuick)
        args << QStringLiteral("-read_intervals") << QStringLiteral("%+20");
    args << QStringLiteral("-select_streams") << QStringLiteral("v:0") << QStringLiteral("-show_entries")
         << QStringLiteral("packet=pts_time,dts_time,flags") << QStringLiteral("-of")
         << QStringLiteral("csv=p=0") << QStringLiteral("file:") + m_file;
    QProcess *p = m_process;
    connect(p, &QProcess::readyReadStandardOutput, this, &PacketScan::read);
    connect(p, &QProcess::finished, this, [this](int code, QProcess::ExitStatus status) {
        read();
        // A recording damaged at its end makes ffprobe complain after it
        // has listed what it could read.
        ended(status == QProcess::NormalExit && (code == 0 || !m_packets.empty()));
    });
    connect(p, &QProcess::errorOccurred, this, [this](QProcess::ProcessError e) {
        if (e != QProcess::FailedToStart)
            return;
        // Said on a later pass of the event loop, as every other end.
        m_pendingFailure = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (m_pendingFailure)
                    end(false);
            },
            Qt::QueuedConnection);
    });
    m_quiet.start();
    p->start(m_ffprobe, args, QIODevice::ReadOnly);
}

void PacketScan::ended(bool ok)
{
    letGo(m_process);
    m_process = nullptr;
    if (!ok || m_stage == Stage::Quick || m_stage == Stage::Parsed) {
        end(ok);
        return;
    }
    media::finishPackets(m_packets);
    if (m_stage == Stage::SampleParsed) {
        m_sample = m_packets;
        run(Stage::SampleQuick);
        return;
    }
    // The same stretch read both ways, less its last second, which one
    // way may have cut short: the same count means a frame a packet.
    const media::PacketTimes &parsed = m_sample;
    const media::PacketTimes &quick = m_packets;
    bool same = false;
    if (!parsed.empty() && !quick.empty()) {
        const double from = std::max(parsed.times.front(), quick.times.front());
        const double to = std::min(parsed.times.back(), quick.times.back()) - 1.0;
        const qint64 frames = media::framesIn(parsed, from, to);
        same = frames >= 25 && std::abs(frames - media::framesIn(quick, from, to)) <= 1;
    }
    const double keyInterval = parsed.maxKeyInterval;
    run(same ? Stage::Quick : Stage::Parsed);
    // Without the parsers no packet is marked a key frame.
    m_sample = media::PacketTimes();
    m_sample.maxKeyInterval = keyInterval;
}

void PacketScan::read()
{
    if (!m_process)
        return;
    m_quiet.start();
    m_pending += m_process->readAllStandardOutput();
    const qsizetype used = media::addPacketLines(m_packets, m_pending);
    m_pending.remove(0, used);
}

void PacketScan::end(bool ok)
{
    m_pendingFailure = false;
    m_quiet.stop();
    letGo(m_process);
    m_process = nullptr;
    m_pending.clear();
    if (ok) {
        media::finishPackets(m_packets);
        if (m_stage == Stage::Quick)
            m_packets.maxKeyInterval = m_sample.maxKeyInterval;
    } else {
        m_packets = media::PacketTimes();
    }
    m_done = ok;
    emit finished(ok);
}

void PacketScan::cancel()
{
    m_pendingFailure = false;
    m_quiet.stop();
    letGo(m_process);
    m_process = nullptr;
    m_pending.clear();
}

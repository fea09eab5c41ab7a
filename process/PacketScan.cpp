#include "process/PacketScan.h"

#include "process/ChildSetup.h"

#include <QFileInfo>
#include <QMetaObject>

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

void PacketScan::start(const QString &ffprobe, const QString &file)
{
    cancel();
    m_packets = media::PacketTimes();
    m_done = false;
    m_process = new QProcess(this);
    m_process->setProcessChannelMode(QProcess::SeparateChannels);
    m_process->setStandardErrorFile(QProcess::nullDevice());
    m_process->setStandardInputFile(QProcess::nullDevice());
    setUpChild(*m_process, false);
    const QStringList args{QStringLiteral("-v"),
                           QStringLiteral("error"),
                           QStringLiteral("-select_streams"),
                           QStringLiteral("v:0"),
                           QStringLiteral("-show_entries"),
                           QStringLiteral("packet=pts_time,dts_time,flags"),
                           QStringLiteral("-of"),
                           QStringLiteral("csv=p=0"),
                           QStringLiteral("file:") + QFileInfo(file).absoluteFilePath()};
    QProcess *p = m_process;
    connect(p, &QProcess::readyReadStandardOutput, this, &PacketScan::read);
    connect(p, &QProcess::finished, this, [this](int code, QProcess::ExitStatus status) {
        read();
        end(status == QProcess::NormalExit && code == 0);
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
    if (ffprobe.isEmpty())
        p->start(QStringLiteral("/nonexistent/ffprobe"), args, QIODevice::ReadOnly);
    else
        p->start(ffprobe, args, QIODevice::ReadOnly);
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
    if (ok)
        media::finishPackets(m_packets);
    else
        m_packets = media::PacketTimes();
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

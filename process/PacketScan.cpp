#include "process/PacketScan.h"

#include "process/ChildSetup.h"

#include "core/TsScan.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QPointer>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

// What the thread reading a transport stream shares with the scan: the
// scan may be gone, or have started another, by the time it ends.
struct PacketScan::Direct
{
    std::atomic<bool> cancelled{false};
    std::atomic<qint64> bytes{0};
    media::PacketTimes packets;
    bool transportStream = false;
    bool read = false;
};

PacketScan::PacketScan(QObject *parent) : QObject(parent)
{
    m_quiet.setSingleShot(true);
    m_quiet.setInterval(kQuietLimitMs);
    connect(&m_quiet, &QTimer::timeout, this, [this] {
        // The thread reading a file directly says how far it has got.
        if (m_direct && m_direct->bytes != m_directBytes) {
            m_directBytes = m_direct->bytes;
            m_quiet.start();
            return;
        }
        end(false);
    });
}

PacketScan::~PacketScan()
{
    cancel();
}

void PacketScan::start(const QString &ffprobe, const QString &file, double quickAtFps, int tsPid)
{
    cancel();
    m_ffprobe = ffprobe.isEmpty() ? QStringLiteral("/nonexistent/ffprobe") : ffprobe;
    m_file = QFileInfo(file).absoluteFilePath();
    m_done = false;
    m_quickAtFps = quickAtFps;
    if (quickAtFps > 0 && tsPid >= 0)
        runDirect(tsPid);
    else
        run(quickAtFps > 0 ? Stage::Quick : Stage::Parsed);
}

void PacketScan::runDirect(int pid)
{
    m_stage = Stage::Quick;
    m_packets = media::PacketTimes();
    auto direct = std::make_shared<Direct>();
    m_direct = direct;
    m_directBytes = 0;
    QPointer<PacketScan> self(this);
    const QString file = m_file;
    std::thread([direct, self, file, pid] {
        QFile in(file);
        if (in.open(QIODevice::ReadOnly)) {
            TsScan scan(pid);
            QByteArray block(1 << 20, Qt::Uninitialized);
            qint64 n = 0;
            while (!direct->cancelled && (n = in.read(block.data(), block.size())) > 0) {
                scan.feed(QByteArrayView(block.constData(), n));
                direct->bytes += n;
            }
            direct->read = n == 0;
            direct->transportStream = scan.isTransportStream();
            direct->packets = scan.packets();
        }
        // Told on the main thread, where the scan lives if it still does.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [direct, self] {
                if (self && self->m_direct == direct)
                    self->directEnded();
            },
            Qt::QueuedConnection);
    }).detach();
    m_quiet.start();
}

void PacketScan::directEnded()
{
    const std::shared_ptr<Direct> direct = std::move(m_direct);
    m_packets = std::move(direct->packets);
    media::finishPackets(m_packets);
    if (direct->read && direct->transportStream && oneFrameEach())
        end(true);
    else
        run(Stage::Parsed);
}

bool PacketScan::oneFrameEach() const
{
    // A frame a packet: every step from one packet to the next is one
    // frame's time, or a gap of the clock (a dropout, a jump). Two frames
    // in one packet, a packet split in two, a frame rate that changes:
    // read again with the parsers.
    const double frame = 1.0 / m_quickAtFps;
    const std::vector<double> &t = m_packets.times;
    bool each = t.size() > 1;
    for (size_t i = 1; each && i < t.size(); ++i) {
        const double step = t[i] - t[i - 1];
        each = std::abs(step - frame) <= 0.25 * frame || step > 1.0;
    }
    return each;
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
    if (stage == Stage::Quick)
        args << QStringLiteral("-fflags") << QStringLiteral("+nofillin+noparse");
    args << QStringLiteral("-select_streams") << QStringLiteral("v:0") << QStringLiteral("-show_entries")
         << QStringLiteral("packet=pts_time,dts_time,pos,flags") << QStringLiteral("-of")
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
    if (ok && m_stage == Stage::Quick) {
        media::finishPackets(m_packets);
        if (!oneFrameEach()) {
            run(Stage::Parsed);
            return;
        }
    }
    end(ok);
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
    if (m_direct)
        m_direct->cancelled = true;
    m_direct.reset();
    m_pendingFailure = false;
    m_quiet.stop();
    letGo(m_process);
    m_process = nullptr;
    m_pending.clear();
    if (ok) {
        media::finishPackets(m_packets);
    } else {
        m_packets = media::PacketTimes();
    }
    m_done = ok;
    emit finished(ok);
}

void PacketScan::cancel()
{
    if (m_direct)
        m_direct->cancelled = true;
    m_direct.reset();
    m_done = false;
    m_packets = media::PacketTimes();
    m_pendingFailure = false;
    m_quiet.stop();
    letGo(m_process);
    m_process = nullptr;
    m_pending.clear();
}

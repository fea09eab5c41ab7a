#include "process/MediaProbe.h"

#include "process/ChildSetup.h"

#include <QFileInfo>
#include <QMetaObject>

#include <algorithm>

MediaProbe::MediaProbe(QObject *parent) : QObject(parent)
{
    m_limit.setSingleShot(true);
    connect(&m_limit, &QTimer::timeout, this, &MediaProbe::onTimeout);
}

MediaProbe::~MediaProbe()
{
    cancel();
}

void MediaProbe::start(const QString &ffprobe, const QString &file)
{
    // The packets of the first seconds, with their flags: where the first
    // key frame is.
    run(ffprobe, file,
        {QStringLiteral("-show_entries"), QStringLiteral("packet=stream_index,pts_time,flags"),
         QStringLiteral("-read_intervals"), QStringLiteral("%+") + QString::number(media::kHeadSeconds)});
}

void MediaProbe::startWithTail(const QString &ffprobe, const QString &file, double tailFrom,
                               const QList<media::Span> &windows)
{
    // ffprobe seeks to each place in turn and reads to its end, the last
    // on to the end of the file.
    const auto at = [](double t) { return QString::number(std::max(0.0, t), 'f', 3); };
    QList<media::Span> inOrder = windows;
    std::sort(inOrder.begin(), inOrder.end(),
              [](const media::Span &a, const media::Span &b) { return a.start < b.start; });
    QStringList intervals;
    for (const media::Span &w : std::as_const(inOrder))
        if (w.end > w.start && w.start < tailFrom)
            intervals << at(w.start) + QLatin1Char('%') + at(w.end);
    intervals << at(tailFrom) + QLatin1Char('%');
    run(ffprobe, file,
        {QStringLiteral("-show_entries"),
         QStringLiteral("packet=stream_index,pts_time,duration_time,data_hash"),
         QStringLiteral("-show_data_hash"), QStringLiteral("adler32"), QStringLiteral("-read_intervals"),
         intervals.join(QLatin1Char(','))});
}

void MediaProbe::run(const QString &ffprobe, const QString &file, const QStringList &extra)
{
    cancel();
    m_running = true;
    if (ffprobe.isEmpty()) {
        answerUnlaunched();
        return;
    }
    m_process = new QProcess(this);
    m_process->setProcessChannelMode(QProcess::SeparateChannels);
    m_process->setStandardErrorFile(QProcess::nullDevice());
    m_process->setStandardInputFile(QProcess::nullDevice());
    setUpChild(*m_process, false);
    // "file:" keeps a name with a colon or a leading dash from being read
    // as a protocol or an option.
    const QStringList args = QStringList{QStringLiteral("-v"),
                                         QStringLiteral("error"),
                                         QStringLiteral("-of"),
                                         QStringLiteral("json"),
                                         QStringLiteral("-show_format"),
                                         QStringLiteral("-show_streams"),
                                         QStringLiteral("-show_chapters")}
                             + extra
                             + QStringList{QStringLiteral("file:") + QFileInfo(file).absoluteFilePath()};
    QProcess *p = m_process;
    connect(p, &QProcess::finished, this, [this, p] {
        if (p == m_process)
            onFinished();
    });
    connect(p, &QProcess::errorOccurred, this, [this, p](QProcess::ProcessError e) {
        if (p == m_process)
            onError(e);
    });
    m_limit.start(m_timeLimitMs);
    p->start(ffprobe, args, QIODevice::ReadOnly);
}

void MediaProbe::onFinished()
{
    m_limit.stop();
    const QByteArray json = m_process->readAllStandardOutput();
    m_process->deleteLater();
    m_process = nullptr;
    m_running = false;
    emit finished(json, Answer::Answered);
}

void MediaProbe::onError(QProcess::ProcessError error)
{
    if (error != QProcess::FailedToStart)
        return;
    m_limit.stop();
    m_process->deleteLater();
    m_process = nullptr;
    // errorOccurred may come from inside start(): the answer waits for the
    // event loop, as every other answer does.
    answerUnlaunched();
}

void MediaProbe::onTimeout()
{
    if (!m_process)
        return;
    letGo(m_process);
    m_process = nullptr;
    m_running = false;
    emit finished(QByteArray(), Answer::TimedOut);
}

void MediaProbe::answerUnlaunched()
{
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!m_running || m_process)
                return;
            m_running = false;
            emit finished(QByteArray(), Answer::NotLaunched);
        },
        Qt::QueuedConnection);
}

void MediaProbe::cancel()
{
    m_running = false;
    m_limit.stop();
    letGo(m_process);
    m_process = nullptr;
}

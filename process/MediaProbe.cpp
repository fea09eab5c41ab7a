#include "process/MediaProbe.h"

#include "process/ChildSetup.h"

#include <QFileInfo>
#include <QMetaObject>

#include <csignal>
#include <unistd.h>

MediaProbe::MediaProbe(QObject *parent) : QObject(parent) { }

MediaProbe::~MediaProbe()
{
    cancel();
}

void MediaProbe::start(const QString &ffprobe, const QString &file, bool countPackets)
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
    QStringList args{QStringLiteral("-v"),   QStringLiteral("error"),        QStringLiteral("-of"),
                     QStringLiteral("json"), QStringLiteral("-show_format"), QStringLiteral("-show_streams")};
    if (countPackets)
        args << QStringLiteral("-count_packets") << QStringLiteral("-select_streams")
             << QStringLiteral("v:0");
    args << QStringLiteral("file:") + QFileInfo(file).absoluteFilePath();
    QProcess *p = m_process;
    connect(p, &QProcess::finished, this, [this, p] {
        if (p == m_process)
            onFinished();
    });
    connect(p, &QProcess::errorOccurred, this, [this, p](QProcess::ProcessError e) {
        if (p == m_process)
            onError(e);
    });
    p->start(ffprobe, args, QIODevice::ReadOnly);
}

void MediaProbe::onFinished()
{
    const QByteArray json = m_process->readAllStandardOutput();
    m_process->deleteLater();
    m_process = nullptr;
    m_running = false;
    emit finished(json, true);
}

void MediaProbe::onError(QProcess::ProcessError error)
{
    if (error != QProcess::FailedToStart)
        return;
    m_process->deleteLater();
    m_process = nullptr;
    // errorOccurred may come from inside start(): the answer waits for the
    // event loop, as every other answer does.
    answerUnlaunched();
}

void MediaProbe::answerUnlaunched()
{
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!m_running || m_process)
                return;
            m_running = false;
            emit finished(QByteArray(), false);
        },
        Qt::QueuedConnection);
}

void MediaProbe::cancel()
{
    m_running = false;
    if (!m_process)
        return;
    QProcess *p = m_process;
    m_process = nullptr;
    p->disconnect(this);
    if (p->state() != QProcess::NotRunning) {
        p->kill();
        p->waitForFinished(1000);
    }
    p->deleteLater();
}

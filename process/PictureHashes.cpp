#include "process/PictureHashes.h"

#include "process/ChildSetup.h"

#include <QFileInfo>

PictureHashes::PictureHashes(QObject *parent) : QObject(parent) { }

PictureHashes::~PictureHashes()
{
    cancel();
}

void PictureHashes::start(const QString &ffmpeg, const QString &file, const QList<QList<media::Span>> &groups,
                          const QString &decoder)
{
    cancel();
    m_ffmpeg = ffmpeg;
    m_file = file;
    m_decoder = decoder;
    m_groups = groups;
    m_next = 0;
    m_pictures.clear();
    m_errors.clear();
    runNext();
}

void PictureHashes::fail()
{
    m_pictures.clear();
    m_errors.clear();
    m_next = m_groups.size();
    // Said on a later pass, as every other answer is.
    QMetaObject::invokeMethod(this, &PictureHashes::finished, Qt::QueuedConnection);
}

void PictureHashes::runNext()
{
    const QList<media::Span> windows = m_groups.value(m_next);
    m_out.clear();
    // The file's own timestamps, every picture as decoded (none dropped or
    // repeated to keep a rate), each hashed whole: murmur3 costs little
    // beside the decoding even at 1080.
    QStringList args{QStringLiteral("-nostdin"), QStringLiteral("-hide_banner"), QStringLiteral("-v"),
                     QStringLiteral("error"), QStringLiteral("-copyts")};
    const QString input = QStringLiteral("file:") + QFileInfo(m_file).absoluteFilePath();
    for (const media::Span &w : windows)
        args << QStringLiteral("-ss") << QString::number(std::max(0.0, w.start), 'f', 3)
             << QStringLiteral("-t") << QString::number(w.end - std::max(0.0, w.start), 'f', 3)
             << QStringLiteral("-i") << input;
    for (qsizetype i = 0; i < windows.size(); ++i)
        args << QStringLiteral("-map") << QStringLiteral("%1:v:0").arg(i);
    args << QStringLiteral("-fps_mode") << QStringLiteral("passthrough") << QStringLiteral("-f")
         << QStringLiteral("framehash") << QStringLiteral("-hash") << QStringLiteral("murmur3")
         << QStringLiteral("-");
    auto *p = new QProcess(this);
    m_process = p;
    p->setStandardInputFile(QProcess::nullDevice());
    setUpChild(*p, false);
    connect(p, &QProcess::readyReadStandardOutput, this, [this, p] {
        if (p == m_process)
            m_out += p->readAllStandardOutput();
    });
    connect(p, &QProcess::finished, this, [this, p, windows](int rc, QProcess::ExitStatus status) {
        if (p != m_process)
            return;
        m_out += p->readAllStandardOutput();
        const QByteArray errors = p->readAllStandardError();
        p->deleteLater();
        m_process = nullptr;
        if (rc != 0 || status != QProcess::NormalExit) {
            fail();
            return;
        }
        m_pictures += media::parseFrameHashes(m_out, int(windows.size()));
        m_errors.append(int(errors.count(QByteArray("[") + m_decoder.toLatin1() + " @ ")));
        m_out.clear();
        if (++m_next < m_groups.size())
            runNext();
        else
            emit finished();
    });
    connect(p, &QProcess::errorOccurred, this, [this, p](QProcess::ProcessError e) {
        if (p != m_process || e != QProcess::FailedToStart)
            return;
        p->deleteLater();
        m_process = nullptr;
        fail();
    });
    p->start(m_ffmpeg, args, QIODevice::ReadOnly);
}

void PictureHashes::cancel()
{
    m_next = m_groups.size();
    if (QProcess *p = m_process) {
        m_process = nullptr;
        p->disconnect(this);
        letGo(p);
    }
}

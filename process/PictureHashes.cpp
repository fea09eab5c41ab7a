#include "process/PictureHashes.h"

#include "process/ChildSetup.h"

#include <QFileInfo>

PictureHashes::PictureHashes(QObject *parent) : QObject(parent) { }

PictureHashes::~PictureHashes()
{
    cancel();
}

void PictureHashes::start(const QString &ffmpeg, const QString &file, const QList<media::Span> &windows)
{
    cancel();
    m_pictures.clear();
    m_out.clear();
    m_windows = int(windows.size());
    // The file's own timestamps, every picture as decoded (none dropped or
    // repeated to keep a rate), each hashed whole: murmur3 costs little
    // beside the decoding even at 1080.
    QStringList args{QStringLiteral("-nostdin"), QStringLiteral("-hide_banner"), QStringLiteral("-v"),
                     QStringLiteral("error"), QStringLiteral("-copyts")};
    const QString input = QStringLiteral("file:") + QFileInfo(file).absoluteFilePath();
    for (const media::Span &w : windows)
        args << QStringLiteral("-ss") << QString::number(std::max(0.0, w.start), 'f', 3)
             << QStringLiteral("-t") << QString::number(w.end - std::max(0.0, w.start), 'f', 3)
             << QStringLiteral("-i") << input;
    for (int i = 0; i < m_windows; ++i)
        args << QStringLiteral("-map") << QStringLiteral("%1:v:0").arg(i);
    args << QStringLiteral("-fps_mode") << QStringLiteral("passthrough") << QStringLiteral("-f")
         << QStringLiteral("framehash") << QStringLiteral("-hash") << QStringLiteral("murmur3")
         << QStringLiteral("-");
    auto *p = new QProcess(this);
    m_process = p;
    p->setStandardInputFile(QProcess::nullDevice());
    p->setStandardErrorFile(QProcess::nullDevice());
    setUpChild(*p, false);
    connect(p, &QProcess::readyReadStandardOutput, this, [this, p] {
        if (p == m_process)
            m_out += p->readAllStandardOutput();
    });
    connect(p, &QProcess::finished, this, [this, p](int rc, QProcess::ExitStatus status) {
        if (p != m_process)
            return;
        m_out += p->readAllStandardOutput();
        if (rc == 0 && status == QProcess::NormalExit)
            m_pictures = media::parseFrameHashes(m_out, m_windows);
        m_out.clear();
        p->deleteLater();
        m_process = nullptr;
        emit finished();
    });
    connect(p, &QProcess::errorOccurred, this, [this, p](QProcess::ProcessError e) {
        if (p != m_process || e != QProcess::FailedToStart)
            return;
        p->deleteLater();
        m_process = nullptr;
        // Said on a later pass, as every other answer is.
        QMetaObject::invokeMethod(this, &PictureHashes::finished, Qt::QueuedConnection);
    });
    p->start(ffmpeg, args, QIODevice::ReadOnly);
}

void PictureHashes::cancel()
{
    if (QProcess *p = m_process) {
        m_process = nullptr;
        p->disconnect(this);
        letGo(p);
    }
}

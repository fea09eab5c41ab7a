#include "process/DecodeCheck.h"

#include "core/StreamCheck.h"
#include "process/ChildSetup.h"

#include <QFileInfo>

DecodeCheck::DecodeCheck(QObject *parent) : QObject(parent) { }

DecodeCheck::~DecodeCheck()
{
    cancel();
}

void DecodeCheck::start(const QString &ffmpeg, const QString &file, const QList<media::Span> &windows)
{
    cancel();
    m_errors.clear();
    m_windows = int(windows.size());
    QStringList args{QStringLiteral("-nostdin"), QStringLiteral("-hide_banner"), QStringLiteral("-v"),
                     QStringLiteral("error")};
    const QString input = QStringLiteral("file:") + QFileInfo(file).absoluteFilePath();
    for (const media::Span &w : windows)
        args << QStringLiteral("-ss") << QString::number(std::max(0.0, w.start), 'f', 3)
             << QStringLiteral("-t") << QString::number(w.end - std::max(0.0, w.start), 'f', 3)
             << QStringLiteral("-i") << input;
    for (int i = 0; i < m_windows; ++i)
        args << QStringLiteral("-map") << QStringLiteral("%1:a?").arg(i);
    args << QStringLiteral("-f") << QStringLiteral("null") << QStringLiteral("-");
    auto *p = new QProcess(this);
    m_process = p;
    p->setStandardInputFile(QProcess::nullDevice());
    p->setStandardOutputFile(QProcess::nullDevice());
    setUpChild(*p, false);
    connect(p, &QProcess::finished, this, [this, p] {
        if (p != m_process)
            return;
        m_errors = media::decodeErrorsByInput(p->readAllStandardError(), m_windows);
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
        QMetaObject::invokeMethod(this, &DecodeCheck::finished, Qt::QueuedConnection);
    });
    p->start(ffmpeg, args, QIODevice::ReadOnly);
}

void DecodeCheck::cancel()
{
    if (QProcess *p = m_process) {
        m_process = nullptr;
        p->disconnect(this);
        letGo(p);
    }
}

#include "process/PictureHashes.h"

#include "core/Diagnostics.h"
#include "core/PacketTimes.h"

#include "process/ChildSetup.h"

#include <QFile>
#include <QFileInfo>

PictureHashes::PictureHashes(QObject *parent) : QObject(parent) { }

PictureHashes::~PictureHashes()
{
    cancel();
}

void PictureHashes::start(const QString &ffmpeg, const QString &file, const QList<QList<Window>> &groups,
                          const QString &decoder)
{
    cancel();
    m_ffmpeg = ffmpeg;
    m_file = QFileInfo(file).absoluteFilePath();
    // ffmpeg's byte range takes the file as a URL after its options; under
    // a plain name of our own no character of the user's can be read as
    // either.
    m_dir = std::make_unique<QTemporaryDir>();
    if (!m_dir->isValid() || !QFile::link(m_file, m_dir->filePath(QStringLiteral("in"))))
        m_dir.reset();
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
    const QList<Window> windows = m_groups.value(m_next);
    m_out.clear();
    // The file's own timestamps, every picture as decoded (none dropped or
    // repeated to keep a rate), each hashed whole: murmur3 costs little
    // beside the decoding even at 1080.
    QStringList args{QStringLiteral("-nostdin"), QStringLiteral("-hide_banner"), QStringLiteral("-v"),
                     QStringLiteral("error"), QStringLiteral("-copyts")};
    const QString input = QStringLiteral("file:") + m_file;
    for (const Window &w : windows) {
        if (w.byteFrom >= 0 && m_dir) {
            if (w.turnAdded)
                args << QStringLiteral("-itsoffset") << QLatin1String(media::kWrapSeconds);
            args << QStringLiteral("-t") << QString::number(std::max(0.0, w.seconds), 'f', 3)
                 << QStringLiteral("-i")
                 << QStringLiteral("subfile,,start,%1,end,0,,:%2")
                        .arg(w.byteFrom)
                        .arg(m_dir->filePath(QStringLiteral("in")));
        } else {
            const double from = std::max(0.0, w.seek.start);
            args << QStringLiteral("-ss") << QString::number(from, 'f', 3) << QStringLiteral("-t")
                 << QString::number(w.seek.end - from, 'f', 3) << QStringLiteral("-i") << input;
        }
    }
    for (qsizetype i = 0; i < windows.size(); ++i)
        args << QStringLiteral("-map") << QStringLiteral("%1:v:0").arg(i);
    args << QStringLiteral("-fps_mode") << QStringLiteral("passthrough") << QStringLiteral("-f")
         << QStringLiteral("framehash") << QStringLiteral("-hash") << QStringLiteral("murmur3")
         << QStringLiteral("-");
    // The same pictures shrunk, a file a window, for the pictures encoded
    // anew that no hash can match.
    QStringList thumbFiles;
    if (m_dir) {
        for (qsizetype i = 0; i < windows.size(); ++i) {
            thumbFiles << m_dir->filePath(QStringLiteral("thumbs%1").arg(i));
            args << QStringLiteral("-map") << QStringLiteral("%1:v:0").arg(i) << QStringLiteral("-vf")
                 << QStringLiteral("scale=%1:%2:flags=area,format=gray")
                        .arg(media::kThumbWidth)
                        .arg(media::kThumbHeight)
                 << QStringLiteral("-fps_mode") << QStringLiteral("passthrough") << QStringLiteral("-f")
                 << QStringLiteral("rawvideo") << QStringLiteral("-y") << thumbFiles.last();
        }
    }
    auto *p = new QProcess(this);
    m_process = p;
    p->setStandardInputFile(QProcess::nullDevice());
    setUpChild(*p, false);
    connect(p, &QProcess::readyReadStandardOutput, this, [this, p] {
        if (p == m_process)
            m_out += p->readAllStandardOutput();
    });
    connect(p, &QProcess::finished, this,
            [this, p, windows, thumbFiles, args](int rc, QProcess::ExitStatus status) {
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
                QList<QByteArray> thumbs;
                for (const QString &name : thumbFiles) {
                    QFile f(name);
                    thumbs << (f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray());
                }
                QList<QList<media::Picture>> read =
                    media::parseFrameHashes(m_out, int(windows.size()), thumbs);
                for (qsizetype i = 0; i < read.size() && i < windows.size(); ++i)
                    for (media::Picture &picture : read[i])
                        picture.time += windows.at(i).byteFrom >= 0 ? windows.at(i).clockShift : 0.0;
                m_pictures += read;
                m_errors.append(int(errors.count(QByteArray("[") + m_decoder.toLatin1() + " @ ")));
                if (!errors.isEmpty())
                    logLine(QStringLiteral("PictureHashes: ") + args.join(u' ') + QStringLiteral(" said: ")
                            + QString::fromUtf8(errors));
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

#include "app/FramePreview.h"

#include "process/ToolLocator.h"

#include <QFile>
#include <QFileInfo>
#include <QMetaObject>

FramePreview::FramePreview(const ToolLocator &tools, QObject *parent) : QObject(parent), m_tools(tools) { }

FramePreview::~FramePreview()
{
    m_queue.clear();
    m_runner.reset();
}

void FramePreview::setRecording(const QString &path, double videoStart, double group)
{
    if (path == m_recording && videoStart == m_videoStart && group == m_group)
        return;
    m_recording = path;
    m_videoStart = videoStart;
    m_group = group;
    m_cache.clear();
    m_queue.clear();
}

void FramePreview::request(const QList<double> &seconds)
{
    if (m_recording.isEmpty())
        return;
    QList<double> wanted;
    for (const double s : seconds) {
        if (!(s >= 0))
            continue;
        const auto cached = m_cache.constFind(key(s));
        if (cached != m_cache.constEnd()) {
            const QImage image = *cached;
            QMetaObject::invokeMethod(
                this, [this, s, image] { emit ready(s, image); }, Qt::QueuedConnection);
            continue;
        }
        const auto same = [s](double t) { return key(t) == key(s); };
        const bool queued = std::any_of(m_queue.cbegin(), m_queue.cend(), [&](const QList<double> &strip) {
            return std::any_of(strip.cbegin(), strip.cend(), same);
        });
        const bool making = m_runner && std::any_of(m_current.cbegin(), m_current.cend(), same);
        if (!queued && !making)
            wanted.append(s);
    }
    if (wanted.isEmpty())
        return;
    // The newest wish first: the user has moved on from the older ones.
    m_queue.prepend(wanted);
    if (m_queue.size() > 4)
        m_queue.removeLast();
    // Started on the next pass of the loop, so that of the requests made
    // together the last, the one the user looks at, is made first.
    if (!m_runner && !m_startPending) {
        m_startPending = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_startPending = false;
                if (!m_runner)
                    startNext();
            },
            Qt::QueuedConnection);
    }
}

QString FramePreview::framePath(int index) const
{
    return m_dir.filePath(QStringLiteral("frame%1.png").arg(index));
}

void FramePreview::startNext()
{
    if (m_queue.isEmpty() || !m_dir.isValid())
        return;
    m_current = m_queue.takeFirst();
    QString ffmpeg = m_tools.pathForAuxiliaryExecutable(QStringLiteral("ffmpeg"));
    if (ffmpeg.isEmpty())
        ffmpeg = QStringLiteral("ffmpeg");
    const QString input = QStringLiteral("file:") + QFileInfo(m_recording).absoluteFilePath();
    QStringList argv{ffmpeg, QStringLiteral("-nostdin"), QStringLiteral("-v"), QStringLiteral("error")};
    // Each time is the recording's own timestamp, the clock the cutter cuts
    // by. The frames before the time are dropped before they are scaled,
    // and each input is decoded on one thread: both measured faster for
    // a strip of 1080 frames than ffmpeg's defaults.
    const double preroll = std::max(0.0, m_group) + 0.1;
    for (const double s : std::as_const(m_current))
        argv << QStringLiteral("-threads") << QStringLiteral("1") << QStringLiteral("-seek_timestamp")
             << QStringLiteral("1") << QStringLiteral("-ss")
             << QString::number(m_videoStart + std::max(0.0, s - preroll), 'f', 6) << QStringLiteral("-i")
             << input;
    for (int k = 0; k < m_current.size(); ++k) {
        QFile::remove(framePath(k));
        const double skip = std::min(m_current.at(k), preroll);
        argv << QStringLiteral("-map") << QStringLiteral("%1:v:0").arg(k) << QStringLiteral("-frames:v")
             << QStringLiteral("1") << QStringLiteral("-vf")
             << QStringLiteral("trim=start=%1,scale=320:-2").arg(skip, 0, 'f', 6) << QStringLiteral("-y")
             << QStringLiteral("file:") + framePath(k);
    }
    m_runner = std::make_unique<TaskWrapper>(this, argv);
    m_runner->startProcess();
}

void FramePreview::processFinished(int)
{
    // Whatever frames were made are shown even if a later one failed, at the
    // very end of the recording say; the rest read as having no picture.
    QList<QPair<double, QImage>> made;
    for (int k = 0; k < m_current.size(); ++k) {
        QImage image;
        image.load(framePath(k));
        if (!image.isNull())
            m_cache.insert(key(m_current.at(k)), image);
        made.append({m_current.at(k), image});
    }
    // The runner is let go after its report has returned.
    QMetaObject::invokeMethod(
        this,
        [this, made] {
            m_runner.reset();
            m_current.clear();
            for (const auto &[seconds, image] : made)
                emit ready(seconds, image);
            startNext();
        },
        Qt::QueuedConnection);
}

#include "jobs/CutterCommand.h"

#include "core/Diagnostics.h"

#include "jobs/DetectJob.h"
#include "jobs/WorkFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QTemporaryDir>

#include <unistd.h>

namespace {

// The folder a cut's lists and pieces are written in, and the lock that
// says its cut is still running.
const QString kFolderPattern = QStringLiteral("trimlet-cut-");
const QString kOwner = QStringLiteral("owner.lock");

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::NewOnly) && file.write(bytes) == bytes.size()
           && file.flush();
}

// The recording's suffix for the link ffmpeg reads it through, when it is
// one a list can name plainly ("Tagesschau 20.00 Uhr" has none).
QString safeSuffix(const QString &path)
{
    const QString ext = QFileInfo(path).suffix();
    if (ext.isEmpty() || ext.size() > 8)
        return QString();
    for (const QChar c : ext)
        if (!(c.isLetterOrNumber() && c.unicode() < 0x80))
            return QString();
    return QLatin1Char('.') + ext;
}

// What every ffmpeg the cut runs starts with: quiet but for errors, its
// progress on stdout, the output replaced (it is our own hidden file).
QStringList ffmpegStart(const RunRequest &request)
{
    return {request.tools.ffmpeg,        QStringLiteral("-nostdin"), QStringLiteral("-hide_banner"),
            QStringLiteral("-v"),        QStringLiteral("error"),    QStringLiteral("-nostats"),
            QStringLiteral("-progress"), QStringLiteral("pipe:1"),   QStringLiteral("-y")};
}

} // namespace

QStringList CutterCommand::mencoderArguments(const RunRequest &request, const QString &output,
                                             const QString &cutList)
{
    QStringList args{request.tools.mencoder,
                     QStringLiteral("-oac"),
                     QStringLiteral("copy"),
                     QStringLiteral("-ovc"),
                     QStringLiteral("copy"),
                     QStringLiteral("-of"),
                     QStringLiteral("mpeg"),
                     QStringLiteral("-mpegopts"),
                     QStringLiteral("format=mpeg2:tsaf:muxrate=36000"),
                     QStringLiteral("-forceidx")};
    if (request.noSkip)
        args << QStringLiteral("-noskip") << QStringLiteral("-mc") << QStringLiteral("0");
    if (request.edlSeek)
        args << QStringLiteral("-hr-edl-seek");
    args << QStringLiteral("-edl")
         << (cutList.isEmpty() ? WorkFiles(request.outDir(), request.baseName()).path(QStringLiteral("edl"))
                               : cutList);
    args << QStringLiteral("-o") << (!output.isEmpty() ? output : request.output);
    args << asOperand(request.recording);
    return args;
}

QStringList CutterCommand::ffmpegArguments(const RunRequest &request, const QString &list,
                                           const QString &output, media::Container container,
                                           const QStringList &streamOptions)
{
    QStringList args = ffmpegStart(request);
    args << QStringLiteral("-f") << QStringLiteral("concat") << QStringLiteral("-i") << list
         << QStringLiteral("-map") << QStringLiteral("0:v") << QStringLiteral("-map")
         << QStringLiteral("0:a?");
    // A program stream has no place for broadcast subtitles.
    if (container == media::Container::TransportStream)
        args << QStringLiteral("-map") << QStringLiteral("0:s?");
    args << QStringLiteral("-c") << QStringLiteral("copy") << streamOptions << QStringLiteral("-f")
         << media::muxerName(container) << QStringLiteral("file:") + output;
    return args;
}

QStringList CutterCommand::chaptersArguments(const RunRequest &request, const QString &chapters,
                                             const QString &output)
{
    // Picture, sound and subtitles, as a cut maps them; frames before the
    // first key frame cannot be shown and are left out, as in a cut.
    // A program stream's B-frames come without a timestamp, which
    // Matroska needs for every packet: ffmpeg makes them up from the rest.
    return ffmpegStart(request)
           + QStringList{QStringLiteral("-fflags"),
                         QStringLiteral("+genpts"),
                         QStringLiteral("-i"),
                         QStringLiteral("file:") + QFileInfo(request.recording).absoluteFilePath(),
                         QStringLiteral("-f"),
                         QStringLiteral("ffmetadata"),
                         QStringLiteral("-i"),
                         QStringLiteral("file:") + chapters,
                         QStringLiteral("-map"),
                         QStringLiteral("0:v"),
                         QStringLiteral("-map"),
                         QStringLiteral("0:a?"),
                         QStringLiteral("-map"),
                         QStringLiteral("0:s?"),
                         QStringLiteral("-map_chapters"),
                         QStringLiteral("1"),
                         QStringLiteral("-c"),
                         QStringLiteral("copy"),
                         QStringLiteral("-f"),
                         media::muxerName(media::Container::Matroska),
                         QStringLiteral("file:") + output};
}

CutterCommand::CutterCommand() = default;

CutterCommand::~CutterCommand()
{
    remove();
}

QString CutterCommand::piecesRoot()
{
    // ffmpeg's concat lists name the pieces beside them, and read a '?' or
    // '#' in the list's own path as the start of a URL's query or fragment:
    // a piece would be looked for, or found, in another folder. A
    // temporary folder that does not exist (an empty tempPath()) or is
    // named so gives way to /tmp.
    const QString root = QDir::tempPath();
    if (root.isEmpty() || !QFileInfo(root).isDir() || root.contains(QLatin1Char('?'))
        || root.contains(QLatin1Char('#')))
        return QStringLiteral("/tmp");
    return root;
}

int CutterCommand::removeAbandoned(const QString &tempDir)
{
    if (tempDir.isEmpty())
        return 0;
    int removed = 0;
    const QFileInfoList folders =
        QDir(tempDir).entryInfoList({kFolderPattern + QLatin1Char('*')},
                                    QDir::Dirs | QDir::NoSymLinks | QDir::Hidden | QDir::CaseSensitive);
    for (const QFileInfo &folder : folders) {
        // A lock of Trimlet's is a plain file: anything else (a FIFO would
        // hold the open for good) is not one of its folders.
        const QFileInfo lock(folder.filePath() + QLatin1Char('/') + kOwner);
        if (folder.ownerId() != ::getuid() || !lock.isFile() || lock.isSymLink())
            continue;
        // Stale only when its owner is no longer running, however long ago
        // it was taken: a cut may run for hours.
        QLockFile owner(folder.filePath() + QLatin1Char('/') + kOwner);
        owner.setStaleLockTime(0);
        if (!owner.tryLock(0))
            continue;
        owner.unlock();
        if (QDir(folder.filePath()).removeRecursively())
            ++removed;
    }
    return removed;
}

bool CutterCommand::write(const RunRequest &request, const media::MediaInfo &info, media::Cutter cutter,
                          media::Container container, const QList<media::Span> &cuts,
                          const QList<media::Span> &kept, double recordingSeconds, const QString &output)
{
    remove();
    m_arguments.clear();
    m_chapters.clear();
    m_link.clear();
    const QString root = piecesRoot();
    const int abandoned = removeAbandoned(root);
    if (abandoned > 0)
        logLine(
            QStringLiteral("CutterCommand: removed %1 folders of pieces a killed cut left").arg(abandoned));
    QTemporaryDir dir(root + QLatin1Char('/') + kFolderPattern + QStringLiteral("XXXXXX"));
    dir.setAutoRemove(false);
    m_folder = dir.isValid() ? dir.path() : QString();
    bool made = dir.isValid();
    if (made) {
        m_owner = std::make_unique<QLockFile>(dir.filePath(kOwner));
        made = m_owner->tryLock(0);
    }
    if (request.mode == RunRequest::Mode::Chapters) {
        // The chapters lie where the detector's times do on the picture,
        // which ffmpeg moves to start where the recording's first stream
        // starts.
        const QString list = dir.filePath(QStringLiteral("chapters.ffmeta"));
        m_chapters = media::chaptersFor(cuts, recordingSeconds);
        made = made && writeFile(list, media::ffmetadataText(m_chapters, info.videoStart - info.start));
        m_arguments = chaptersArguments(request, list, output);
    } else if (cutter == media::Cutter::Mencoder) {
        const QString list = dir.filePath(QStringLiteral("cuts.edl"));
        made = made && writeFile(list, media::edlText(cuts));
        m_arguments = mencoderArguments(request, output, list);
    } else if (!request.frameExact) {
        // ffmpeg reads the kept spans from a list that names the recording
        // through a link of a plain name, whatever characters its own has.
        const QString list = dir.filePath(QStringLiteral("cut.ffconcat"));
        m_link = QStringLiteral("recording") + safeSuffix(request.recording);
        made = made && QFile::link(QFileInfo(request.recording).absoluteFilePath(), dir.filePath(m_link))
               && writeFile(list, media::concatList(m_link, kept, recordingSeconds, info.videoStart));
        m_arguments = ffmpegArguments(request, list, output, container, media::dispositionOptions(info));
    } else {
        m_link = QStringLiteral("recording") + safeSuffix(request.recording);
        made = made && QFile::link(QFileInfo(request.recording).absoluteFilePath(), dir.filePath(m_link));
    }
    return made;
}

void CutterCommand::remove()
{
    m_owner.reset();
    if (!m_folder.isEmpty())
        QDir(m_folder).removeRecursively();
    m_folder.clear();
}

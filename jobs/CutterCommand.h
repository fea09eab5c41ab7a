#pragma once

#include "core/MediaInfo.h"
#include "core/RunRequest.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

class QLockFile;

// What a cutter is handed: the list it reads, written in a folder of its
// own, and its command line. Every cutter reads one list: sorted, merged,
// each break a cut. The detector's EDL may mark breaks with action 3, which
// mencoder passes over, and rows that overlap, which it refuses.
class CutterCommand
{
public:
    CutterCommand();
    CutterCommand(const CutterCommand &) = delete;
    CutterCommand &operator=(const CutterCommand &) = delete;
    ~CutterCommand();

    static QStringList mencoderArguments(const RunRequest &request, const QString &output,
                                         const QString &cutList);
    // streamOptions go before the output (the tracks' roles).
    static QStringList ffmpegArguments(const RunRequest &request, const QString &list, const QString &output,
                                       media::Container container, const QStringList &streamOptions = {});
    // The whole recording remuxed into Matroska, with the chapters in the
    // ffmpeg metadata file chapters.
    static QStringList chaptersArguments(const RunRequest &request, const QString &chapters,
                                         const QString &output);

    // Writes, in a new folder, what cutter reads to cut request's recording
    // (cuts, or the kept spans of its recordingSeconds) into output. A
    // frame-exact cut is handed only the link to the recording (link()):
    // it writes its own lists. False when something could not be written.
    bool write(const RunRequest &request, const media::MediaInfo &info, media::Cutter cutter,
               media::Container container, const QList<media::Span> &cuts, const QList<media::Span> &kept,
               double recordingSeconds, const QString &output);
    // Removes the folder and all in it.
    void remove();
    // Removes the folders in tempDir that a cut of this user left when its
    // process was killed (their lock's owner is gone); a frame-exact cut's
    // pieces there may be as large as the recording. Returns how many.
    static int removeAbandoned(const QString &tempDir);
    // Where the folders of pieces are made: the temporary folder, or /tmp
    // where that is missing or its name would mislead ffmpeg.
    static QString piecesRoot();

    // The command line; empty for a frame-exact cut.
    const QStringList &arguments() const { return m_arguments; }
    // The chapters written for a chapters file.
    const QList<media::Chapter> &chapters() const { return m_chapters; }
    const QString &folder() const { return m_folder; }
    // The recording's link in folder(), by a plain name.
    const QString &link() const { return m_link; }

private:
    QString m_folder;
    std::unique_ptr<QLockFile> m_owner;
    QString m_link;
    QStringList m_arguments;
    QList<media::Chapter> m_chapters;
};

#pragma once

#include "core/PathText.h"

#include <QString>
#include <QVariantMap>

// Everything a run needs, settled once when Run is pressed: nothing after
// that reads a window's control, so what the run does is what was asked
// then, whatever the fields show later.
struct RunRequest
{
    // The outside tools' paths; a bare name where one was not found, which
    // the runner reports as not found.
    struct Tools
    {
        QString comskip = QStringLiteral("comskip");
        QString mencoder = QStringLiteral("mencoder");
        QString ffmpeg = QStringLiteral("ffmpeg");
        QString ffprobe = QStringLiteral("ffprobe");
    };

    // What the run leaves of the recording: a copy without the breaks; the
    // whole recording remuxed into Matroska with a chapter at each edge of
    // a break; or the recording as it is, with the breaks beside it as a
    // list a player skips (an EDL, which the erase step keeps).
    enum class Mode { Cut, Chapters, SkipList };

    QString recording; // the recording's path, as chosen
    QString output; // where the copy, chapters file or skip list goes, settled; empty when nothing is cut
    Mode mode = Mode::Cut;
    bool detect = false;
    bool remove = false;
    bool erase = false;
    // The detector's lists were given to the run (an earlier detection's, a
    // DVR's): they are its input, and its erase leaves them.
    bool listsGiven = false;
    QVariantMap detectorSettings; // the settings resource overlaid with the window's options
    QString profile; // the named detector settings laid over those, for the run log; empty: none
    // "Cut with mencoder, key frame to key frame" where it can copy the
    // recording; else (the default) ffmpeg cuts it to the frame.
    bool mencoderCutter = false;
    // The frame-exact cut asked for, where the cutter is ffmpeg's.
    bool frameExact = false;
    bool noSkip = false; // mencoder keeps every frame (-noskip -mc 0)
    bool edlSeek = false; // mencoder seeks precisely at the cuts (-hr-edl-seek)
    // mencoder's copies of recordings like this one were refused earlier in
    // the batch: ffmpeg cuts it from the start, as it would after a refusal.
    bool skipMencoder = false;
    // A file under the output's name that was not made from this recording
    // may be replaced: the user said so. Else such a file, even one that
    // appears while the copy is cut, is kept and the copy is not saved.
    bool replaceOthers = false;
    // Once the queue has the checked copy, it takes the recording's name and
    // the recording goes to its volume's trash, or into keepOriginal.
    bool replace = false;
    QString keepOriginal;
    Tools tools;

    // The recording's folder, where the work files lie, and its name
    // without folder and extension: read off the recording each time, so
    // that no request can name one recording and another one's lists.
    QString outDir() const
    {
        const QString folder = pathtext::deletingLastComponent(recording);
        return folder.isEmpty() && !recording.isEmpty() ? QStringLiteral(".") : folder;
    }
    QString baseName() const { return pathtext::deletingExtension(pathtext::lastComponent(recording)); }
};

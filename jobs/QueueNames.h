#pragma once

#include "jobs/BatchQueue.h"

#include <QString>

#include <vector>

namespace media {
struct MediaInfo;
}
class RecordingMedia;

// What the queue's recordings and their copies are called, and which of
// those names two recordings may not share: each recording is refused
// here, the later of two, before anything of it runs. The entries given
// as others are the queue's other live ones.
class QueueNames
{
public:
    using Others = std::vector<const BatchQueue::Entry *>;

    // The file a path names, by whatever path (a link, "./").
    static QString samePlace(const QString &path);
    // Why a recording cannot be queued at all: missing, a folder,
    // unreadable, busy (the refusal of another Trimlet's lock), names too
    // long for its folder, or no detection where one is to be used.
    static QString recordingRefusal(const BatchQueue::Entry &e, const QString &busy);
    // Why it cannot be queued after earlier ones: the same recording, the
    // same work files, or a copy of the same name.
    static QString sharedRefusal(const BatchQueue::Entry &e, const Others &earlier);
    // Why the copy's name cannot be output beside the others'.
    static QString clash(const BatchQueue::Entry &e, const QString &output, const Others &others);
    // Where the copy goes, without its extension; empty when none is made.
    static QString copyStem(const BatchQueue::Entry &e);
    // Why the recording, as read, is none to run; empty when it is one.
    static QString readRefusal(const RecordingMedia &media, const QString &recording);
    // What the queue says of a recording whose detection it takes as it lies.
    static QString usingExistingDetection(const BatchQueue::Entry &e);
    // The container and codecs of a recording once read; empty before.
    // Recordings from one source share the faults of a cutter's copies.
    static QString kindOf(const RecordingMedia *media);
    // The name the window would propose, in the container the copy will be in.
    static QString settledOutput(const BatchQueue::Entry &e, const media::MediaInfo &info);
    // Why the settled output cannot take the copy. A file under its name
    // not made from this recording is kept unless replaceOthers, and its
    // refusal ends with hint.
    static QString outputRefusal(const BatchQueue::Entry &e, const Others &others, bool replaceOthers,
                                 const QString &hint);
};

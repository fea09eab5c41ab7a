#pragma once

#include <QString>

// A checked copy put in its recording's place, for a DVR whose database and
// clients know the recording by its name: the copy takes that name in one
// rename, and the recording goes to the trash of its own volume (as a file
// manager would put it there) or into a folder the user names. Both stay
// on the one file system: nothing is copied, and at no moment is the name
// missing or the recording gone.
namespace trash {

struct Outcome
{
    bool replaced = false;
    // Where the recording went, or why both were kept, in words.
    QString message;
    // The recording's new path (in the trash's files/ or keepDir).
    QString recordingNowAt;
};

// The freedesktop trash a file on path's volume goes to: the home trash
// ($XDG_DATA_HOME/Trash) when it is on the same device as the home's data,
// else $topdir/.Trash/$uid (when an administrator made .Trash) or
// $topdir/.Trash-$uid, made as needed. Empty, with why in *why, when there
// is none (a service user without a home, a volume's top it cannot write).
QString trashFor(const QString &path, QString *why = nullptr);

// A file's size and time of change, to tell whether it is the one that was
// read; size -1 when there is no such file.
struct FileState
{
    qint64 size = -1;
    qint64 modifiedNs = -1;
    static FileState of(const QString &path);
    bool operator==(const FileState &o) const { return size == o.size && modifiedNs == o.modifiedNs; }
};

// Why a copy to be made as copy could not take recording's place (another
// container, another file system, no trash to put the recording in); empty
// when it could. Told before the work, which may take hours, as well as
// after it.
QString cannotReplace(const QString &recording, const QString &copy, const QString &keepDir = QString());

// copy (checked, beside or near the recording) takes recording's name; the
// recording goes into keepDir when given, else into its volume's trash,
// with its .trashinfo. Refused, with both kept as they were, when the
// recording is no longer as it was read (asRead: a DVR still writing it
// would lose what it wrote since from under the name), the copy is in
// another container (its extension differs), or the recording, copy and
// destination are not on one file system.
Outcome replaceWithCopy(const QString &recording, const QString &copy, const FileState &asRead,
                        const QString &keepDir = QString());

} // namespace trash

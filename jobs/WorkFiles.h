#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The files a recording's runs keep beside it, and what Trimlet may do with
// them. Every file a run writes is recorded in a hidden manifest
// (".BASE.trimlet-files", a JSON object with the writer's user id) and
// erasing removes only those, with Trimlet's own hidden staging files: a
// file of the user's under a work file's name was never Trimlet's to
// erase, and a manifest another user wrote, or a name in it that is not
// one of this recording's work files, is not obeyed. While the detector
// runs, the lists it will replace are set aside, to be put back if it
// fails; the user's own lists that a detection replaced are kept beside
// under a visible name ("BASE.before-trimlet.EXT") and come back to their
// names when the work files are erased. The recording and the cut copy
// are never touched, under whatever name they reach.
class WorkFiles
{
public:
    // A list file moved out of the detector's way.
    struct SetAside
    {
        QString path;
        QString aside;
        bool usersOwn; // not made by a run of Trimlet's: it comes back whatever happens
    };

    WorkFiles(QString outDir, QString baseName, QStringList untouchable = {});

    bool isValid() const { return !m_outDir.isEmpty() && !m_baseName.isEmpty(); }
    QString path(const QString &extension) const;
    QString manifestPath() const;
    // Where the detector's settings go: BASE.ini, unless a file of the
    // user's holds that name (".BASE.trimlet-ini" then).
    QString iniPath() const;
    // A file name one of this recording's runs may have written.
    bool isWorkFileName(const QString &name) const;
    // The names the manifest lists, each a file beside the recording.
    QStringList made() const;
    void record(const QStringList &names) const;
    // The user's lists a detection replaced, each kept beside under
    // keptName() until the work files are erased.
    QStringList keptBeside() const;
    QString keptName(const QString &path) const;
    // Moves a file of the user's (a list, a run log) out of a run's way to
    // its keptName, for the erase to bring back. False when it is there
    // still.
    bool keepBeside(const QString &name) const;
    // Hidden staging files of the work files that a write did not live to
    // rename.
    QStringList leftovers() const;
    // Something erasing would remove is on disk.
    bool any() const;
    void erase() const;
    // Renames every list under its keptName() for good (the recording they
    // were made of is gone from its name); the new names, and those left
    // where their keptName was taken.
    QStringList retireLists() const;

    QList<SetAside> setAsideLists() const;
    // The detector is about to write its lists: until settle(), whatever
    // stands under their names without a set-aside list of the user's was
    // written by it.
    void markDetecting() const;
    // After the detector: its lists stay (detected) or the set-aside ones
    // come back; files of the user's come back where the detector wrote
    // nothing in their place, and its debugging log never takes the place
    // of the user's own. What it wrote is recorded.
    void settle(const QList<SetAside> &setAside, bool detected) const;
    // Lists set aside by a Trimlet that did not live to settle them.
    void restoreSetAside() const;
    // The recording or the copy, under any name.
    bool isUntouchable(const QString &path) const;

private:
    struct Manifest
    {
        QStringList made;
        QStringList beside;
        // The detector's lists of a detection under way: what it leaves
        // there if it is killed is its own, not the user's.
        QStringList detecting;
    };
    Manifest manifest() const;
    void write(const Manifest &m) const;

    QString m_outDir;
    QString m_baseName;
    QStringList m_untouchable;
};

// The same file, under whatever names (a link, a hard link, "./"); false
// when either cannot be found.
bool sameFile(const QString &a, const QString &b);

// Files in dir named ".NAME.trimlet-XXXXXX" for one of names: Trimlet's
// hidden partial copies and staging files, compared as text, never as a
// pattern ("Show [HD].ts" is a name, not a set of characters).
QStringList hiddenNamesOf(const QString &dir, const QStringList &names);

#include "jobs/WorkFiles.h"

#include "core/AtomicWrite.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char *kListExtensions[] = {"txt", "edl", "csv", "log", "detected.txt", "detected.edl"};
constexpr const char *kDetectorExtensions[] = {"txt", "edl", "csv", "log"};
constexpr const char *kWorkExtensions[] = {"ini", "txt", "edl", "csv", "log", "detected.txt", "detected.edl"};
const QString kKeptInfix = QStringLiteral(".before-trimlet.");

// A regular file of this user's (not followed through a link).
bool isOwnFile(const QString &path)
{
    struct stat st = {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode)
           && st.st_uid == ::geteuid();
}

// A file or a link of this user's, as a list set aside may be.
bool isOwnEntry(const QString &path)
{
    struct stat st = {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0
           && (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) && st.st_uid == ::geteuid();
}

// Never onto a file that is there: the user's list comes back only to a
// free name.
bool renameNoReplace(const QString &from, const QString &to)
{
    const QByteArray a = QFile::encodeName(from);
    const QByteArray b = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, a.constData(), AT_FDCWD, b.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // File systems without the flag (some network and FUSE ones): a hard
    // link fails on a name that is there, and where there are none either,
    // a look first.
    if (::link(a.constData(), b.constData()) == 0) {
        // Should this fail, both names hold the one file: nothing is lost.
        ::unlink(a.constData());
        return true;
    }
    struct stat st = {};
    if (errno == EEXIST || ::lstat(b.constData(), &st) == 0)
        return false;
    return ::rename(a.constData(), b.constData()) == 0;
}

QString asideOf(const QString &path)
{
    const QFileInfo file(path);
    return file.absolutePath() + QStringLiteral("/.") + file.fileName() + QStringLiteral(".trimlet-aside");
}

bool renamePath(const QString &from, const QString &to)
{
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

} // namespace

QStringList hiddenNamesOf(const QString &dir, const QStringList &names)
{
    QStringList paths;
    const QDir folder(dir);
    const QStringList entries = folder.entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &entry : entries) {
        for (const QString &name : names) {
            const QString prefix = QLatin1Char('.') + name + QLatin1String(".trimlet-");
            if (entry.size() == prefix.size() + 6 && entry.startsWith(prefix)) {
                paths << folder.filePath(entry);
                break;
            }
        }
    }
    return paths;
}

WorkFiles::WorkFiles(QString outDir, QString baseName, QStringList untouchable)
    : m_outDir(std::move(outDir)), m_baseName(std::move(baseName)), m_untouchable(std::move(untouchable))
{ }

QString WorkFiles::path(const QString &extension) const
{
    return m_outDir + QLatin1Char('/') + m_baseName + QLatin1Char('.') + extension;
}

QString WorkFiles::manifestPath() const
{
    return m_outDir + QStringLiteral("/.") + m_baseName + QStringLiteral(".trimlet-files");
}

QString WorkFiles::iniPath() const
{
    const QString ini = path(QStringLiteral("ini"));
    const QFileInfo info(ini);
    if ((info.exists() || info.isSymLink()) && !made().contains(info.fileName()))
        return m_outDir + QStringLiteral("/.") + m_baseName + QStringLiteral(".trimlet-ini");
    return ini;
}

bool WorkFiles::isWorkFileName(const QString &name) const
{
    // The run log is the folder's, shared by every run there (RunLog), and
    // never one recording's to erase, whatever an older manifest says.
    if (name == QLatin1Char('.') + m_baseName + QLatin1String(".trimlet-ini"))
        return true;
    return std::any_of(std::begin(kWorkExtensions), std::end(kWorkExtensions), [&](const char *ext) {
        return name == m_baseName + QLatin1Char('.') + QLatin1String(ext);
    });
}

WorkFiles::Manifest WorkFiles::manifest() const
{
    Manifest m;
    if (!isValid() || !isOwnFile(manifestPath()))
        return m;
    QFile file(manifestPath());
    if (!file.open(QIODevice::ReadOnly))
        return m;
    const QByteArray bytes = file.readAll();
    const QJsonDocument doc = QJsonDocument::fromJson(bytes);
    const auto own = [this](const QString &name) { return isWorkFileName(name); };
    if (doc.isObject()) {
        const QJsonObject o = doc.object();
        if (o.value(QStringLiteral("uid")).toInteger(-1) != qint64(::geteuid()))
            return m;
        for (const QJsonValue &v : o.value(QStringLiteral("made")).toArray())
            if (own(v.toString()) && !m.made.contains(v.toString()))
                m.made << v.toString();
        for (const QJsonValue &v : o.value(QStringLiteral("beside")).toArray())
            if (own(v.toString()) && !m.beside.contains(v.toString()))
                m.beside << v.toString();
        for (const QJsonValue &v : o.value(QStringLiteral("detecting")).toArray())
            if (own(v.toString()) && !m.detecting.contains(v.toString()))
                m.detecting << v.toString();
        return m;
    }
    // A manifest of an earlier version, a name a line: only this
    // recording's own work-file names are taken from it, so a name split
    // at a newline, or one planted there, names nothing to erase.
    for (const QByteArray &line : bytes.split('\n'))
        if (const QString name = QFile::decodeName(line); own(name) && !m.made.contains(name))
            m.made << name;
    return m;
}

void WorkFiles::write(const Manifest &m) const
{
    const QJsonObject o{{QStringLiteral("uid"), qint64(::geteuid())},
                        {QStringLiteral("made"), QJsonArray::fromStringList(m.made)},
                        {QStringLiteral("beside"), QJsonArray::fromStringList(m.beside)},
                        {QStringLiteral("detecting"), QJsonArray::fromStringList(m.detecting)}};
    writeAtomically(manifestPath(), QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n');
}

QStringList WorkFiles::made() const
{
    return manifest().made;
}

QStringList WorkFiles::keptBeside() const
{
    return manifest().beside;
}

QString WorkFiles::keptName(const QString &file) const
{
    const QString name = QFileInfo(file).fileName();
    return m_outDir + QLatin1Char('/') + m_baseName + kKeptInfix + name.mid(m_baseName.size() + 1);
}

bool WorkFiles::keepBeside(const QString &name) const
{
    const QString file = m_outDir + QLatin1Char('/') + name;
    if (!isValid() || !isWorkFileName(name) || !renameNoReplace(file, keptName(file)))
        return false;
    Manifest m = manifest();
    if (!m.beside.contains(name)) {
        m.beside << name;
        write(m);
    }
    return true;
}

void WorkFiles::record(const QStringList &names) const
{
    if (!isValid() || names.isEmpty())
        return;
    Manifest m = manifest();
    bool changed = false;
    for (const QString &name : names)
        if (isWorkFileName(name) && !m.made.contains(name)) {
            m.made << name;
            changed = true;
        }
    if (changed)
        write(m);
}

QStringList WorkFiles::leftovers() const
{
    if (!isValid())
        return {};
    QStringList names{QFileInfo(manifestPath()).fileName(),
                      QLatin1Char('.') + m_baseName + QLatin1String(".trimlet-ini")};
    for (const char *ext : kWorkExtensions)
        names << m_baseName + QLatin1Char('.') + QLatin1String(ext);
    return hiddenNamesOf(m_outDir, names);
}

bool WorkFiles::any() const
{
    const Manifest m = manifest();
    for (const QString &name : m.made)
        if (QFileInfo::exists(m_outDir + QLatin1Char('/') + name))
            return true;
    for (const QString &name : m.beside)
        if (QFileInfo::exists(keptName(name)))
            return true;
    return !leftovers().isEmpty();
}

QStringList WorkFiles::retireLists() const
{
    QStringList names;
    if (!isValid())
        return names;
    for (const char *ext : kListExtensions) {
        const QString file = path(QLatin1String(ext));
        struct stat st = {};
        if (::lstat(QFile::encodeName(file).constData(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        names << QFileInfo(renameNoReplace(file, keptName(file)) ? keptName(file) : file).fileName();
    }
    return names;
}

void WorkFiles::erase() const
{
    if (!isValid())
        return;
    const Manifest m = manifest();
    for (const QString &name : m.made) {
        const QString file = m_outDir + QLatin1Char('/') + name;
        // A file under the name that is not this user's is not what the
        // run wrote there.
        if (!isUntouchable(file) && isOwnFile(file))
            QFile::remove(file);
    }
    // The user's own lists take their names again, where these are free.
    for (const QString &name : m.beside) {
        const QString file = m_outDir + QLatin1Char('/') + name;
        if (!QFileInfo(file).isSymLink())
            renameNoReplace(keptName(file), file);
    }
    for (const QString &file : leftovers())
        QFile::remove(file);
    if (isOwnFile(manifestPath()))
        QFile::remove(manifestPath());
}

bool sameFile(const QString &a, const QString &b)
{
    struct stat sa = {};
    struct stat sb = {};
    return !a.isEmpty() && !b.isEmpty() && ::stat(QFile::encodeName(a).constData(), &sa) == 0
           && ::stat(QFile::encodeName(b).constData(), &sb) == 0 && sa.st_dev == sb.st_dev
           && sa.st_ino == sb.st_ino;
}

bool WorkFiles::isUntouchable(const QString &file) const
{
    return std::any_of(m_untouchable.cbegin(), m_untouchable.cend(),
                       [&](const QString &other) { return sameFile(file, other); });
}

QList<WorkFiles::SetAside> WorkFiles::setAsideLists() const
{
    QList<SetAside> setAside;
    if (!isValid())
        return setAside;
    const QStringList list = made();
    for (const char *ext : kListExtensions) {
        const QString file = path(QLatin1String(ext));
        const QFileInfo info(file);
        if ((!info.exists() && !info.isSymLink()) || isUntouchable(file))
            continue;
        // Moved, not copied: the detector writes a new file, never into
        // this one. The name is Trimlet's own; a link planted there is
        // replaced, not followed.
        const QString aside = asideOf(file);
        if (renamePath(file, aside))
            setAside.append({file, aside, !list.contains(info.fileName())});
    }
    return setAside;
}

void WorkFiles::markDetecting() const
{
    if (!isValid())
        return;
    Manifest m = manifest();
    m.detecting.clear();
    for (const char *ext : kDetectorExtensions) {
        const QString file = path(QLatin1String(ext));
        if (!QFileInfo::exists(file) && !QFileInfo(file).isSymLink())
            m.detecting << QFileInfo(file).fileName();
    }
    write(m);
}

void WorkFiles::settle(const QList<SetAside> &setAside, bool detected) const
{
    if (Manifest m = manifest(); !m.detecting.isEmpty()) {
        m.detecting.clear();
        write(m);
    }
    if (!detected) {
        // What a failed or stopped detection left is half a result: the
        // lists go back to what they were before it started.
        for (const char *ext : kDetectorExtensions) {
            const QString file = path(QLatin1String(ext));
            const bool wasThere = std::any_of(setAside.cbegin(), setAside.cend(),
                                              [&](const SetAside &s) { return s.path == file; });
            if (!wasThere && !isUntouchable(file))
                QFile::remove(file);
        }
    }
    const QString log = path(QStringLiteral("log"));
    QStringList usersOwn;
    QStringList keptBeside;
    for (const SetAside &s : setAside) {
        const bool putBack = !detected || (s.usersOwn && (s.path == log || !QFileInfo::exists(s.path)));
        if (putBack) {
            if (renamePath(s.aside, s.path) && s.usersOwn)
                usersOwn << s.path;
        } else if (!s.usersOwn) {
            QFile::remove(s.aside);
        } else if (renameNoReplace(s.aside, keptName(s.path))) {
            // The detection's list is the one the cut and the window read;
            // the user's waits beside, in sight, until the erase.
            keptBeside << QFileInfo(s.path).fileName();
        } else if (renamePath(s.aside, s.path)) {
            // No free name beside: the user's list wins.
            usersOwn << s.path;
        }
    }
    if (!detected)
        return;
    if (!keptBeside.isEmpty()) {
        Manifest m = manifest();
        for (const QString &name : std::as_const(keptBeside))
            if (!m.beside.contains(name))
                m.beside << name;
        write(m);
    }
    QStringList names;
    for (const char *ext : kDetectorExtensions) {
        const QFileInfo file(path(QLatin1String(ext)));
        if (file.exists() && !usersOwn.contains(file.filePath()) && !isUntouchable(file.filePath()))
            names << file.fileName();
    }
    record(names);
}

void WorkFiles::restoreSetAside() const
{
    if (!isValid())
        return;
    // A detection that did not live to settle: the lists it left under
    // names that were free when it started are half results of its own.
    if (Manifest m = manifest(); !m.detecting.isEmpty()) {
        for (const QString &name : std::as_const(m.detecting)) {
            const QString file = m_outDir + QLatin1Char('/') + name;
            if (isOwnEntry(file) && !isUntouchable(file))
                QFile::remove(file);
        }
        m.detecting.clear();
        write(m);
    }
    for (const char *ext : kListExtensions) {
        const QString file = path(QLatin1String(ext));
        // Only what a run of this user's set aside: one planted under the
        // name would take the place of the list that is there.
        if (isOwnEntry(asideOf(file)) && !isUntouchable(file))
            renamePath(asideOf(file), file);
    }
}

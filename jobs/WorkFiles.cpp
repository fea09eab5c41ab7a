#include "jobs/WorkFiles.h"

#include "core/AtomicWrite.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>
#include <sys/stat.h>

namespace {

constexpr const char *kListExtensions[] = {"txt", "edl", "csv", "log", "detected.txt", "detected.edl"};
constexpr const char *kDetectorExtensions[] = {"txt", "edl", "csv", "log"};

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

QStringList WorkFiles::made() const
{
    if (!isValid())
        return {};
    QFile manifest(manifestPath());
    if (!manifest.open(QIODevice::ReadOnly))
        return {};
    QStringList names;
    for (const QByteArray &line : manifest.readAll().split('\n')) {
        const QString name = QFile::decodeName(line);
        // Names beside the recording only, whatever the file says.
        if (!name.isEmpty() && !name.contains(QLatin1Char('/')) && name != QLatin1String(".")
            && name != QLatin1String(".."))
            names << name;
    }
    return names;
}

void WorkFiles::record(const QStringList &names) const
{
    if (!isValid() || names.isEmpty())
        return;
    QStringList list = made();
    bool changed = false;
    for (const QString &name : names)
        if (!list.contains(name)) {
            list << name;
            changed = true;
        }
    if (changed)
        writeAtomically(manifestPath(), QFile::encodeName(list.join(QLatin1Char('\n'))) + '\n');
}

QStringList WorkFiles::leftovers() const
{
    if (!isValid())
        return {};
    QStringList names{QFileInfo(manifestPath()).fileName()};
    for (const char *ext : {"ini", "txt", "edl", "csv", "log", "detected.txt", "detected.edl"})
        names << m_baseName + QLatin1Char('.') + QLatin1String(ext);
    return hiddenNamesOf(m_outDir, names);
}

bool WorkFiles::any() const
{
    for (const QString &name : made())
        if (QFileInfo::exists(m_outDir + QLatin1Char('/') + name))
            return true;
    return !leftovers().isEmpty();
}

void WorkFiles::erase() const
{
    if (!isValid())
        return;
    for (const QString &name : made()) {
        const QString file = m_outDir + QLatin1Char('/') + name;
        if (!isUntouchable(file))
            QFile::remove(file);
    }
    for (const QString &file : leftovers())
        QFile::remove(file);
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

void WorkFiles::settle(const QList<SetAside> &setAside, bool detected) const
{
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
    for (const SetAside &s : setAside) {
        const bool putBack = !detected || (s.usersOwn && (s.path == log || !QFileInfo::exists(s.path)));
        if (putBack && renamePath(s.aside, s.path) && s.usersOwn)
            usersOwn << s.path;
        else if (!putBack)
            QFile::remove(s.aside);
    }
    if (!detected)
        return;
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
    for (const char *ext : kListExtensions) {
        const QString file = path(QLatin1String(ext));
        if (QFileInfo::exists(asideOf(file)) && !isUntouchable(file))
            renamePath(asideOf(file), file);
    }
}

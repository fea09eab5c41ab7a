#include "app/Updater.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>

Updater::Updater()
    : m_stampPath(QStringLiteral("/var/lib/apt/periodic/update-success-stamp")),
      m_listsPath(QStringLiteral("/var/lib/apt/lists"))
{ }

Updater *Updater::sharedUpdater()
{
    static Updater *shared = new Updater;
    return shared;
}

void Updater::setDelegate(UpdaterDelegate *delegate)
{
    m_delegate = delegate;
    if (!m_watcher) {
        m_watcher = new QFileSystemWatcher(this);
        connect(m_watcher, &QFileSystemWatcher::fileChanged, this, &Updater::stampChanged);
        const QString dir = QFileInfo(m_stampPath).absolutePath();
        if (QFileInfo::exists(dir))
            m_watcher->addPath(dir);
        if (QFileInfo::exists(m_stampPath))
            m_watcher->addPath(m_stampPath);
        connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, &Updater::stampChanged);
    }
}

void Updater::setStampPath(const QString &path)
{
    m_stampPath = path;
}

QDateTime Updater::lastUpdateCheckDate() const
{
    const QFileInfo stamp(m_stampPath);
    if (stamp.exists())
        return stamp.lastModified();
    // A plain "apt-get update" leaves no stamp; the lists it fetched say when.
    QDateTime newest;
    const QFileInfoList lists = QDir(m_listsPath).entryInfoList(QDir::Files | QDir::NoDotAndDotDot);
    for (const QFileInfo &f : lists)
        if (f.fileName() != QLatin1String("lock") && (!newest.isValid() || f.lastModified() > newest))
            newest = f.lastModified();
    return newest;
}

void Updater::stampChanged()
{
    if (m_watcher && QFileInfo::exists(m_stampPath) && !m_watcher->files().contains(m_stampPath))
        m_watcher->addPath(m_stampPath);
    if (m_delegate)
        m_delegate->updaterDidNotFindUpdate(this);
}

#include "app/Updater.h"

#include <QFileInfo>
#include <QFileSystemWatcher>

Updater::Updater() : m_stampPath(QStringLiteral("/var/lib/apt/periodic/update-success-stamp")) {}

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
    if (!stamp.exists())
        return QDateTime();
    return stamp.lastModified();
}

void Updater::stampChanged()
{
    if (m_watcher && QFileInfo::exists(m_stampPath) && !m_watcher->files().contains(m_stampPath))
        m_watcher->addPath(m_stampPath);
    if (m_delegate)
        m_delegate->updaterDidNotFindUpdate(this);
}

#pragma once

#include <QDateTime>
#include <QObject>

class QFileSystemWatcher;
class Updater;

class UpdaterDelegate
{
public:
    virtual ~UpdaterDelegate() = default;
    virtual void updaterDidFindValidUpdate(Updater *updater, const QString &update) = 0;
    virtual void updaterDidNotFindUpdate(Updater *updater) = 0;
};

// On Debian, APT updates Trimlet; the last update check is the system's
// last successful package-list refresh. The delegate hears of each new
// refresh as a check that found no update of Trimlet's own.
class Updater : public QObject
{
    Q_OBJECT
public:
    static Updater *sharedUpdater();

    void setDelegate(UpdaterDelegate *delegate);
    UpdaterDelegate *delegate() const { return m_delegate; }

    // APT's success stamp when it left one (APT::Periodic does), else the
    // newest of the package lists themselves; invalid when there is neither.
    QDateTime lastUpdateCheckDate() const;

    // The stamp file and the lists' directory; tests point them elsewhere.
    void setStampPath(const QString &path);
    QString stampPath() const { return m_stampPath; }
    void setListsPath(const QString &path) { m_listsPath = path; }

private:
    Updater();
    void stampChanged();

    UpdaterDelegate *m_delegate = nullptr;
    QString m_stampPath;
    QString m_listsPath;
    QFileSystemWatcher *m_watcher = nullptr;
};

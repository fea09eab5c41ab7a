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

    // Invalid when APT has left no stamp.
    QDateTime lastUpdateCheckDate() const;

    // The stamp file; tests point it elsewhere.
    void setStampPath(const QString &path);
    QString stampPath() const { return m_stampPath; }

private:
    Updater();
    void stampChanged();

    UpdaterDelegate *m_delegate = nullptr;
    QString m_stampPath;
    QFileSystemWatcher *m_watcher = nullptr;
};

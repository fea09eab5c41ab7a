#include "app/SingleInstance.h"

#include "core/Diagnostics.h"
#include "jobs/RawNames.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDataStream>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QThread>
#include <QUrl>

const QString SingleInstance::kServiceName = QStringLiteral("org.trimlet.Trimlet");
const QString SingleInstance::kObjectPath = QStringLiteral("/org/trimlet/Trimlet");

namespace {

const QString kInterface = QStringLiteral("org.freedesktop.Application");
const QString kSampleAction = QStringLiteral("sample");
// How long a second trimlet waits for the window to take its recordings.
constexpr int kAnswerMs = 10000;
// How long it tries to reach a window that has just started.
constexpr int kConnectMs = 5000;

QString runtimePath(const QString &suffix)
{
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) + QLatin1Char('/')
           + SingleInstance::kServiceName + suffix;
}

// The desktop's own interface for a running application: the window
// answers what a file manager or a launcher asks of it too.
class ApplicationAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")
public:
    explicit ApplicationAdaptor(SingleInstance *instance)
        : QDBusAbstractAdaptor(instance), m_instance(instance)
    { }

public slots:
    void Activate(const QVariantMap &) { m_instance->request({}, false); }
    void Open(const QStringList &uris, const QVariantMap &)
    {
        QStringList paths;
        for (const QString &uri : uris)
            if (const QUrl url(uri); url.isLocalFile())
                paths << rawnames::pathOf(url);
        m_instance->request(paths, false);
    }
    void ActivateAction(const QString &action, const QVariantList &, const QVariantMap &)
    {
        m_instance->request({}, action == kSampleAction);
    }

private:
    SingleInstance *m_instance;
};

} // namespace

SingleInstance::SingleInstance(QObject *parent) : QObject(parent) { }

SingleInstance::~SingleInstance() = default;

SingleInstance::Claim SingleInstance::claim(const QStringList &paths, bool sample)
{
    // The window open has another folder: the names go as whole paths.
    QStringList absolute;
    for (const QString &path : paths)
        absolute << QFileInfo(path).absoluteFilePath();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        if (const Claim onBus = claimOnBus(absolute, sample); onBus != Claim::First)
            return onBus;
    }
    // The socket's lock has the last word, the window on the bus holding it
    // too: a trimlet started without the session bus (a shell of another
    // login) finds that window, and one on the bus a window without it.
    const Claim bySocket = claimSocket(absolute, sample);
    if (bySocket != Claim::First && bus.isConnected()) {
        bus.unregisterService(kServiceName);
        bus.unregisterObject(kObjectPath);
    }
    return bySocket;
}

void SingleInstance::request(const QStringList &paths, bool sample)
{
    logLine(QStringLiteral("SingleInstance: handed %1 recording(s)%2")
                .arg(paths.size())
                .arg(sample ? QStringLiteral(", the sample") : QString()));
    emit requested(paths, sample);
}

SingleInstance::Claim SingleInstance::claimOnBus(const QStringList &paths, bool sample)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    // The object first: a call that comes as soon as the name is owned
    // finds it there.
    new ApplicationAdaptor(this);
    bus.registerObject(kObjectPath, this, QDBusConnection::ExportAdaptors);
    if (bus.registerService(kServiceName))
        return Claim::First;
    bus.unregisterObject(kObjectPath);
    if (!bus.interface()->isServiceRegistered(kServiceName)) {
        // Refused for another reason (a bus policy): a window of its own
        // is better than none.
        logLine(QStringLiteral("SingleInstance: the bus refused %1: %2")
                    .arg(kServiceName, bus.lastError().message()));
        return Claim::First;
    }
    QDBusMessage call;
    if (sample) {
        call = QDBusMessage::createMethodCall(kServiceName, kObjectPath, kInterface,
                                              QStringLiteral("ActivateAction"));
        call << kSampleAction << QVariant::fromValue(QVariantList()) << QVariant::fromValue(QVariantMap());
    } else if (paths.isEmpty()) {
        call =
            QDBusMessage::createMethodCall(kServiceName, kObjectPath, kInterface, QStringLiteral("Activate"));
        call << QVariant::fromValue(QVariantMap());
    } else {
        QStringList uris;
        for (const QString &path : paths)
            uris << rawnames::uriOf(path);
        call = QDBusMessage::createMethodCall(kServiceName, kObjectPath, kInterface, QStringLiteral("Open"));
        call << uris << QVariant::fromValue(QVariantMap());
    }
    const QDBusMessage reply = bus.call(call, QDBus::Block, kAnswerMs);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return Claim::HandedOver;
    m_error = reply.errorMessage();
    return Claim::NoAnswer;
}

SingleInstance::Claim SingleInstance::claimSocket(const QStringList &paths, bool sample)
{
    // Whoever holds the lock is the window; a lock whose process is gone
    // is taken over (QLockFile checks the process), never one by its age.
    const QString socketPath = runtimePath(QStringLiteral(".socket"));
    m_lock = std::make_unique<QLockFile>(runtimePath(QStringLiteral(".lock")));
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(0)) {
        m_server = new QLocalServer(this);
        m_server->setSocketOptions(QLocalServer::UserAccessOption);
        QLocalServer::removeServer(socketPath);
        if (!m_server->listen(socketPath))
            logLine(QStringLiteral("SingleInstance: no socket at %1: %2")
                        .arg(socketPath, m_server->errorString()));
        connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::readSocket);
        return Claim::First;
    }
    if (m_lock->error() != QLockFile::LockFailedError) {
        logLine(QStringLiteral("SingleInstance: no lock in the runtime folder: error %1")
                    .arg(int(m_lock->error())));
        m_lock.reset();
        return Claim::First;
    }
    m_lock.reset();
    QLocalSocket socket;
    QElapsedTimer waited;
    waited.start();
    // The window may hold the lock and not listen yet.
    while (true) {
        socket.connectToServer(socketPath);
        if (socket.waitForConnected(1000))
            break;
        if (waited.elapsed() > kConnectMs) {
            m_error = socket.errorString();
            return Claim::NoAnswer;
        }
        QThread::msleep(100);
    }
    QByteArray message;
    QDataStream out(&message, QIODevice::WriteOnly);
    out << sample << paths;
    socket.write(message);
    if (!socket.waitForBytesWritten(kAnswerMs) || !socket.waitForReadyRead(kAnswerMs)
        || socket.readAll() != "1") {
        m_error = socket.errorString();
        return Claim::NoAnswer;
    }
    return Claim::HandedOver;
}

void SingleInstance::readSocket()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            QDataStream in(socket);
            in.startTransaction();
            bool sample = false;
            QStringList paths;
            in >> sample >> paths;
            if (!in.commitTransaction())
                return;
            request(paths, sample);
            socket->write("1");
            socket->disconnectFromServer();
        });
    }
}

#include "SingleInstance.moc"

#include "app/DesktopNotification.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QVariantMap>

namespace DesktopNotification {

void send(const QString &summary, const QString &body)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString service = QStringLiteral("org.freedesktop.Notifications");
    if (!bus.isConnected() || !bus.interface() || !bus.interface()->isServiceRegistered(service))
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        service, QStringLiteral("/org/freedesktop/Notifications"), service, QStringLiteral("Notify"));
    call << QStringLiteral("Trimlet") << uint(0) << QStringLiteral("org.trimlet.Trimlet") << summary << body
         << QStringList()
         << QVariantMap{{QStringLiteral("desktop-entry"), QStringLiteral("org.trimlet.Trimlet")}} << int(-1);
    // Asynchronous: a slow notification daemon never holds the window.
    bus.asyncCall(call);
}

} // namespace DesktopNotification

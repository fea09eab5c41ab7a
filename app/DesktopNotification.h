#pragma once

#include <QString>

// A desktop notification through the freedesktop notification service on
// the session bus; nothing happens where there is no bus or no service.
namespace DesktopNotification {
void send(const QString &summary, const QString &body);
}

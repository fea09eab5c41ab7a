#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

// Property lists (XML or binary) read with libplist into Qt values:
// dictionaries become QVariantMap, arrays QVariantList, strings QString,
// integers qint64, reals double, booleans bool. Other node types are left
// out. An invalid QVariant means the data was not a property list.
QVariant parsePropertyList(const QByteArray &data);

// Reads a property-list resource or file; invalid when it cannot be read.
QVariant readPropertyList(const QString &path);

#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <QVariantMap>

// Property lists (XML or binary) read with libplist into Qt values:
// dictionaries become QVariantMap, arrays QVariantList, strings QString,
// integers qint64, reals double, booleans bool. Other node types are left
// out. An invalid QVariant means the data was not a property list.
QVariant parsePropertyList(const QByteArray &data);

// Reads a property-list resource or file; invalid when it cannot be read.
QVariant readPropertyList(const QString &path);

// The settings resource's shape: a dictionary of groups, each a dictionary
// of setting name -> value, merged into one flat dictionary. Anything else
// (a root or a group that is not a dictionary) gives no settings.
QVariantMap mergeSettingGroups(const QVariant &root);

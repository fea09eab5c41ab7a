#include "core/PropertyList.h"

#include <QFile>

#include <plist/plist.h>

#include <cstdlib>
#include <limits>

namespace {

QVariant convert(plist_t node, int depth)
{
    // Nesting this deep is no settings file; stop before the stack does.
    if (!node || depth > 64)
        return {};
    switch (plist_get_node_type(node)) {
    case PLIST_DICT: {
        QVariantMap map;
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        if (!it)
            return map;
        while (true) {
            char *key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(node, it, &key, &value);
            if (!key)
                break;
            const QVariant v = convert(value, depth + 1);
            if (v.isValid())
                map.insert(QString::fromUtf8(key), v);
            std::free(key);
        }
        std::free(it);
        return map;
    }
    case PLIST_ARRAY: {
        QVariantList list;
        const uint32_t n = plist_array_get_size(node);
        for (uint32_t i = 0; i < n; ++i) {
            const QVariant v = convert(plist_array_get_item(node, i), depth + 1);
            if (v.isValid())
                list.append(v);
        }
        return list;
    }
    case PLIST_STRING: {
        // Read in place with its length: libplist's copying getter aborts
        // on a string that holds a NUL byte.
        uint64_t length = 0;
        const char *s = plist_get_string_ptr(node, &length);
        if (!s || length > uint64_t(std::numeric_limits<int>::max()))
            return QString();
        return QString::fromUtf8(s, qsizetype(length));
    }
    case PLIST_UINT: {
        // libplist keeps every integer as 64 unsigned bits; negative values
        // come back in two's complement.
        uint64_t v = 0;
        plist_get_uint_val(node, &v);
        return qint64(v);
    }
    case PLIST_REAL: {
        double v = 0;
        plist_get_real_val(node, &v);
        return v;
    }
    case PLIST_BOOLEAN: {
        uint8_t v = 0;
        plist_get_bool_val(node, &v);
        return bool(v);
    }
    default:
        return {};
    }
}

} // namespace

QVariant parsePropertyList(const QByteArray &data)
{
    if (data.isEmpty() || data.size() > std::numeric_limits<uint32_t>::max() / 2)
        return {};
    plist_t root = nullptr;
    plist_from_memory(data.constData(), uint32_t(data.size()), &root);
    if (!root)
        return {};
    QVariant result = convert(root, 0);
    plist_free(root);
    return result;
}

QVariant readPropertyList(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return parsePropertyList(file.readAll());
}

QVariantMap mergeSettingGroups(const QVariant &root)
{
    QVariantMap merged;
    if (root.typeId() != QMetaType::QVariantMap)
        return merged;
    const QVariantMap groups = root.toMap();
    for (const QVariant &group : groups) {
        if (group.typeId() != QMetaType::QVariantMap)
            continue;
        const QVariantMap entries = group.toMap();
        for (auto it = entries.cbegin(); it != entries.cend(); ++it)
            merged.insert(it.key(), it.value());
    }
    return merged;
}

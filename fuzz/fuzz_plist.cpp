// The settings loader: any bytes as a property list, merged into settings.
#include "core/PropertyList.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QVariantMap settings = mergeSettingGroups(parsePropertyList(bytes));
    for (auto it = settings.cbegin(); it != settings.cend(); ++it)
        (void)it.value().toString();
    return 0;
}

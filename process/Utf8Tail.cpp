#include "process/Utf8Tail.h"

#include <QStringDecoder>

namespace {

// Length of the unfinished sequence at the end of bytes, 0 if none.
qsizetype unfinishedTail(const QByteArray &bytes)
{
    const qsizetype n = bytes.size();
    qsizetype continuation = 0;
    qsizetype i = n - 1;
    while (i >= 0 && continuation < 3 && (uchar(bytes[i]) & 0xC0) == 0x80) {
        ++continuation;
        --i;
    }
    if (i < 0)
        return 0;
    const uchar lead = uchar(bytes[i]);
    int expected = 0;
    if ((lead & 0xE0) == 0xC0)
        expected = 2;
    else if ((lead & 0xF0) == 0xE0)
        expected = 3;
    else if ((lead & 0xF8) == 0xF0)
        expected = 4;
    if (expected == 0)
        return 0;
    const qsizetype have = n - i;
    return have < expected ? have : 0;
}

} // namespace

// Qt 6.4's stateful QStringDecoder drops characters after an invalid
// sequence split between two reads, so whole characters are decoded here
// chunk by chunk. A byte-order mark is dropped only where the stream begins,
// as decoding the whole stream at once would; later it is a character.
QString Utf8Tail::convert(qsizetype count)
{
    if (count == 0)
        return {};
    const QByteArrayView bytes(m_pending.constData(), count);
    QString text;
    if (m_started) {
        QStringDecoder decoder(QStringDecoder::Utf8,
                               QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
        text = decoder.decode(bytes);
    } else {
        text = QString::fromUtf8(bytes);
    }
    m_started = true;
    m_pending.remove(0, count);
    return text;
}

QString Utf8Tail::decode(const char *data, qsizetype size)
{
    m_pending.append(data, size);
    return convert(m_pending.size() - unfinishedTail(m_pending));
}

QString Utf8Tail::flush()
{
    return convert(m_pending.size());
}

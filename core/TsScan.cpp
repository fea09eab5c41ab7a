#include "core/TsScan.h"

namespace {

constexpr qint64 kWrap = media::kClockWrap;
constexpr qint64 kNone = std::numeric_limits<qint64>::min();

qint64 timeStamp(const uchar *b)
{
    return (qint64(b[0] >> 1) & 7) << 30 | qint64(b[1]) << 22 | qint64(b[2] >> 1) << 15 | qint64(b[3]) << 7
           | qint64(b[4] >> 1);
}

} // namespace

bool TsScan::findStride(QByteArrayView bytes)
{
    // Three sync bytes in a row, either way, at the start.
    for (const int stride : {media::kTsPacket, media::kTsPacket + 4}) {
        const int sync = stride - media::kTsPacket;
        if (bytes.size() >= 3 * stride && bytes.at(sync) == 0x47 && bytes.at(sync + stride) == 0x47
            && bytes.at(sync + 2 * stride) == 0x47) {
            m_stride = stride;
            return true;
        }
    }
    return false;
}

void TsScan::feed(QByteArrayView bytes)
{
    // Where bytes[0] lies in the file, once the carry is put in front.
    qint64 base = m_fed - m_carry.size();
    m_fed += bytes.size();
    if (!m_carry.isEmpty() || m_stride == 0) {
        m_carry.append(bytes.data(), bytes.size());
        if (m_stride == 0) {
            if (m_carry.size() < 3 * 192)
                return;
            if (!findStride(m_carry)) {
                m_carry.clear();
                m_carry.squeeze();
                m_stride = -1;
                return;
            }
        }
        bytes = m_carry;
    }
    if (m_stride < 0)
        return;
    const int sync = m_stride - media::kTsPacket;
    qsizetype at = 0;
    while (at + m_stride <= bytes.size()) {
        const auto *p = reinterpret_cast<const uchar *>(bytes.data() + at + sync);
        if (p[0] != 0x47) {
            // Lost step: on to the next sync byte.
            ++at;
            continue;
        }
        packet(p, base + at);
        at += m_stride;
    }
    const QByteArray rest(bytes.data() + at, bytes.size() - at);
    m_carry = rest;
}

void TsScan::packet(const uchar *p, qint64 pos)
{
    const int pid = (p[1] & 0x1f) << 8 | p[2];
    const bool start = p[1] & 0x40;
    if (pid != m_pid || !start || (p[1] & 0x80))
        return;
    const int control = (p[3] >> 4) & 3;
    int payload = 4;
    bool randomAccess = false;
    if (control & 2) {
        const int length = p[4];
        randomAccess = length > 0 && (p[5] & 0x40);
        payload = 5 + length;
    }
    if (!(control & 1) || payload + 14 > media::kTsPacket)
        return;
    const uchar *pes = p + payload;
    if (pes[0] != 0 || pes[1] != 0 || pes[2] != 1)
        return;
    const int flags = pes[7] >> 6;
    if (!(flags & 2) || pes[8] < 5)
        return;
    // PTS, as every video PES of a broadcast carries; DTS alone is not
    // a time to show at.
    const qint64 raw = timeStamp(pes + 9);
    const bool first = m_last == kNone;
    // Counted as libavformat counts from the file's start, so that ffmpeg's
    // times and these are the same: a clock that starts in the last minute
    // before its wrap reads negative until it goes round.
    if (first && media::demuxerClockAt(raw).turnAdded)
        m_wraps = -kWrap;
    qint64 ts = raw + m_wraps;
    // The 33-bit clock goes round every 26.5 hours; a step back of more
    // than half of that is its going round.
    if (!first && ts < m_last - kWrap / 2) {
        m_wraps += kWrap;
        m_wrapped = true;
        ts += kWrap;
    } else if (!first && ts > m_last + kWrap / 2 && m_wrapped) {
        // A frame shown before the wrap that comes after it in the file.
        ts -= kWrap;
    }
    m_last = std::max(m_last, ts);
    media::addPacket(m_packets, double(ts) / 90000.0, randomAccess, randomAccess ? pos : -1);
}

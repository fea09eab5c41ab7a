#pragma once

// The times of one PID's PES packets in an MPEG transport stream (188-byte
// packets, or 192 with the timecode of .m2ts in front), read straight from
// the bytes. ffprobe lists the same packets, but printing a line for each
// costs three times as long as reading the file; this reads 1 GB in a
// fraction of a second. Only what a transport stream's headers say is
// taken: the PES start, its PTS (else DTS), the random-access flag, and
// where the packet of a random access starts.

#include "core/PacketTimes.h"

#include <QByteArray>
#include <QByteArrayView>

#include <limits>

namespace media {
// A transport stream's packet, without the timecode .m2ts puts in front.
inline constexpr int kTsPacket = 188;
} // namespace media

class TsScan
{
public:
    explicit TsScan(int pid) : m_pid(pid) { }

    // Bytes of the stream in order, cut anywhere.
    void feed(QByteArrayView bytes);
    // False when the bytes were not a transport stream at all.
    bool isTransportStream() const { return m_stride > 0; }
    // The packets so far, as ffprobe would list them without its parsers.
    const media::PacketTimes &packets() const { return m_packets; }

private:
    void packet(const uchar *p, qint64 pos);
    bool findStride(QByteArrayView bytes);

    int m_pid;
    int m_stride = 0; // 188 or 192 once known
    QByteArray m_carry;
    qint64 m_fed = 0; // bytes given to feed() so far
    media::PacketTimes m_packets;
    qint64 m_last = std::numeric_limits<qint64>::min(); // the last time stamp, 90 kHz, unwrapped; none yet
    qint64 m_wraps = 0; // 2^33 for each time the clock went round
    bool m_wrapped = false;
};

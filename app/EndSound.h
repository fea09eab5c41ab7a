#pragma once

// The end-of-run sound: the freedesktop theme's "complete" event. Where no
// sound server runs it stays silent.
class EndSound
{
public:
    EndSound();
    ~EndSound();
    EndSound(const EndSound &) = delete;
    EndSound &operator=(const EndSound &) = delete;

    void play();
    int requests() const { return m_requests; }
    // Tests count requests without making noise.
    void setMuted(bool muted) { m_muted = muted; }

private:
    struct ca_context *m_context = nullptr;
    int m_requests = 0;
    bool m_muted = false;
};

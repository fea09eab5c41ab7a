#include "app/EndSound.h"

#include <canberra.h>

EndSound::EndSound() = default;

EndSound::~EndSound()
{
    if (m_context)
        ca_context_destroy(m_context);
}

void EndSound::play()
{
    ++m_requests;
    if (m_muted)
        return;
    if (!m_context) {
        if (ca_context_create(&m_context) != CA_SUCCESS) {
            m_context = nullptr;
            return;
        }
        // Through the sound server only: libcanberra's fallback to ALSA
        // prints alsa-lib's complaints on stderr where there is no sound
        // card, and a desktop always has a server.
        ca_context_change_props(m_context, CA_PROP_APPLICATION_NAME, "Trimlet", CA_PROP_APPLICATION_ID,
                                "org.trimlet.Trimlet", nullptr);
        if (ca_context_set_driver(m_context, "pulse") != CA_SUCCESS
            || ca_context_open(m_context) != CA_SUCCESS) {
            ca_context_destroy(m_context);
            m_context = nullptr;
            m_muted = true;
            return;
        }
    }
    ca_context_play(m_context, 0, CA_PROP_EVENT_ID, "complete", CA_PROP_EVENT_DESCRIPTION,
                    "Trimlet run finished", nullptr);
}

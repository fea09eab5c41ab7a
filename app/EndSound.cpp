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
    if (!m_context && ca_context_create(&m_context) != CA_SUCCESS) {
        m_context = nullptr;
        return;
    }
    ca_context_play(m_context, 0, CA_PROP_EVENT_ID, "complete", CA_PROP_EVENT_DESCRIPTION,
                    "Trimlet run finished", nullptr);
}

#include "lists/WaveformParseJob.h"

#include "waveform/WaveformParser.h"


void WaveformParseJob::cancel()
{
    std::lock_guard lock(m_mutex);
    m_cancelled.store(true);
    if (m_parser)
        m_parser->cancel();
}

bool WaveformParseJob::attach(WaveformParser* parser)
{
    std::lock_guard lock(m_mutex);
    if (m_cancelled.load())
        return false;
    m_parser = parser;
    return true;
}

void WaveformParseJob::detach()
{
    std::lock_guard lock(m_mutex);
    m_parser = nullptr;
}

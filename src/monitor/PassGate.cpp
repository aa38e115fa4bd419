#include "monitor/PassGate.h"

bool PassGate::Run(const std::function<void()>& pass)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_running) {
            m_owed = true;
            return false;
        }
        m_running = true;
    }

    for (;;) {
        try {
            pass();
        } catch (...) {
            // Requests turned away meanwhile are dropped with the failed
            // pass: nobody is left to run them, and kept they would make the
            // next request run two passes. That next request's pass covers
            // them.
            std::lock_guard lock(m_mutex);
            m_running = false;
            m_owed = false;
            throw;
        }
        // Seeing no request owed and freeing the gate happen under one hold
        // of the lock: a request that came in between would otherwise find
        // the gate taken, be remembered, and never run.
        std::lock_guard lock(m_mutex);
        if (!m_owed) {
            m_running = false;
            return true;
        }
        m_owed = false;
    }
}

bool PassGate::Busy() const
{
    std::lock_guard lock(m_mutex);
    return m_running;
}

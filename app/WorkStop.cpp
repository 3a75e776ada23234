// The user's request to stop long work.
// SPDX-License-Identifier: Apache-2.0
#include "app/WorkStop.h"

namespace gq::app {

void WorkStop::Begin()
{
    const std::lock_guard lock(m_mutex);
    m_state = State::Running;
}

void WorkStop::End()
{
    {
        const std::lock_guard lock(m_mutex);
        m_state = State::Idle;
    }
    m_answered.notify_all();
}

bool WorkStop::BeginAsking()
{
    const std::lock_guard lock(m_mutex);
    if (m_state != State::Running) {
        return false;
    }
    m_state = State::Asking;
    return true;
}

void WorkStop::Answer(bool stop)
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_state != State::Asking) {
            return;
        }
        m_state = stop ? State::Stopping : State::Running;
    }
    m_answered.notify_all();
}

bool WorkStop::PastLastStop() const
{
    const std::lock_guard lock(m_mutex);
    return m_state == State::PastLastStop;
}

bool WorkStop::Check(bool last)
{
    std::unique_lock lock(m_mutex);
    m_answered.wait(lock, [this] { return m_state != State::Asking; });
    if (m_state == State::Stopping) {
        return true;
    }
    if (last && m_state == State::Running) {
        m_state = State::PastLastStop;
    }
    return false;
}

} // namespace gq::app

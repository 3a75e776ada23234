// The user's request to stop long work (a drop, a merge), shared by the GUI thread that asks the
// user and the worker thread that checks between workbooks.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <condition_variable>
#include <mutex>

namespace gq::app {

class WorkStop {
public:
    // The GUI thread brackets each piece of long work with these.
    void Begin();
    void End();

    // GUI thread: true when the user may be asked now (work is running, it can still stop, and no
    // question is open); the worker then waits at its next check until Answer.
    bool BeginAsking();
    // GUI thread: the user's answer to the question that BeginAsking allowed.
    void Answer(bool stop);
    // GUI thread: the work has passed its last point of stopping (a merge saving its output).
    bool PastLastStop() const;

    // Worker thread, between workbooks: true once the user has answered that the work should
    // stop. While the question is open it waits for the answer, so that a Yes never arrives after
    // the work has gone on past the point it was meant to stop at. With `last` no later check
    // follows: the work can no longer be stopped from here on.
    bool Check(bool last);

private:
    enum class State { Idle, Running, Asking, Stopping, PastLastStop };

    mutable std::mutex m_mutex;
    std::condition_variable m_answered;
    State m_state = State::Idle;
};

} // namespace gq::app

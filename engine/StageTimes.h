// CPU time spent per stage of the work (reading inputs, pasting, compressing, writing), counted
// per thread and summed over the process, for the merge benchmark to say which stage bounds a run.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace gq::engine {

enum class Stage : uint8_t { Read, Paste, Compress, Write, Count };

// Counts the calling thread's CPU time from construction to destruction towards `stage`. Stages
// nest: an inner stage's time is taken out of the outer one's, so that reading a sheet the paste
// asks for counts as reading, not pasting. A few system calls a stage: meant for work counted in
// milliseconds (a sheet, a paste, a block), not for each cell.
class StageTimer {
public:
    explicit StageTimer(Stage stage);
    ~StageTimer();
    StageTimer(const StageTimer&) = delete;
    StageTimer& operator=(const StageTimer&) = delete;

private:
    Stage m_stage;
    StageTimer* m_outer;
    int64_t m_since;
};

// Whether timers count at all: off until a program turns it on, before its threads start, so that
// work no one measures does not pay a clock reading per timer.
void CountStageTimes(bool on);

// The CPU seconds counted per stage so far, over every thread.
std::array<double, static_cast<size_t>(Stage::Count)> StageSeconds();
const char* StageName(Stage stage);

} // namespace gq::engine

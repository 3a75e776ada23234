// The busy window's animation: a folder with a magnifying glass sweeping over it, 29 frames
// repeated without end, centred in its box on a transparent background.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QTimer>
#include <QWidget>

namespace gq::app {

class TBusyAnimation : public QWidget {
    Q_OBJECT

public:
    static constexpr int kFrameCount = 29;
    static constexpr int kFrameMilliseconds = 60;

    explicit TBusyAnimation(QWidget* parent = nullptr);

    // The frame on screen now, 0 to kFrameCount - 1.
    int Frame() const { return m_frame; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QTimer m_timer;
    int m_frame = 0;
};

} // namespace gq::app

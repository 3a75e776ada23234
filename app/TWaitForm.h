// The busy window: a small panel over the main window telling the user to wait while dropped
// files and folders are processed.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QWidget>

class QLabel;
class QToolButton;

namespace gq::app {

class TWaitForm : public QWidget {
    Q_OBJECT

public:
    // With a main window the busy window belongs to it: it lies over it, centred on its outer
    // frame, moves with it and is no window of its own that the desktop would list or leave behind.
    // Without one it is a borderless stay-on-top window of its own.
    explicit TWaitForm(QWidget* mainWindow = nullptr);

    QWidget* Animate1;
    QLabel* Label1;
    QLabel* Label2;
    QToolButton* SpeedButton1;

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QWidget* m_mainWindow;
};

// The one busy window of the program, created hidden at start-up.
extern TWaitForm* WaitForm;

} // namespace gq::app

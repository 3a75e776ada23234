// The busy window: a small borderless stay-on-top window telling the user to wait while dropped
// files and folders are processed.
#pragma once

#include <QWidget>

class QLabel;
class QToolButton;

namespace gq::app {

class TWaitForm : public QWidget {
    Q_OBJECT

public:
    // `mainWindow` is the window it is centred over the first time it is shown (may be null).
    explicit TWaitForm(QWidget* mainWindow = nullptr);

    QWidget* Animate1;
    QLabel* Label1;
    QLabel* Label2;
    QToolButton* SpeedButton1;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* m_mainWindow;
    bool m_placed = false;
};

// The one busy window of the program, created hidden at start-up.
extern TWaitForm* WaitForm;

} // namespace gq::app

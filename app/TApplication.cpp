// The application object with the application-wide failure report.
// SPDX-License-Identifier: Apache-2.0
#include "app/TApplication.h"

#include "app/FailureReport.h"

#include <QIcon>

// Resources compiled into a static library need an explicit reference to be linked in.
static void InitIconResources()
{
    Q_INIT_RESOURCE(app);
}

namespace gq::app {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    InitIconResources();
    // The desktop ties the windows to the desktop entry by this name (the Wayland app id, the
    // startup notification), so that they show its icon and group under it.
    setDesktopFileName(kDesktopFileName);
    // The installed icon theme's drawing where there is one, else the same drawing built in: the
    // window's own icon (_NET_WM_ICON), which task bars and window switchers show.
    setWindowIcon(QIcon::fromTheme("gridquilt", QIcon(":/gridquilt/gridquilt.svg")));
}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        // Nothing is rolled back: the window keeps whatever state the handler left.
        ReportCurrentException();
        return false;
    }
}

} // namespace gq::app

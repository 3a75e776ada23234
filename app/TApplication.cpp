// The application object with the application-wide failure report.
#include "app/TApplication.h"

#include "app/AppConventions.h"

namespace gq::app {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv)
{
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

// Program entry: the application object, the main window, the hidden busy window, the event loop.
#include "app/TApplication.h"
#include "app/TWaitForm.h"
#include "app/TfmMain.h"
#include "app/Wiring.h"
#include "automation/EmbeddedServer.h"

int main(int argc, char** argv)
{
    gq::app::TApplication application(argc, argv);
    gq::automation::EmbeddedServerFactory servers;
    gq::app::TfmMain mainWindow;
    gq::app::fmMain = &mainWindow;
    gq::app::ConnectWork(mainWindow, servers);
    gq::app::TWaitForm waitForm(&mainWindow);
    gq::app::WaitForm = &waitForm;
    mainWindow.show();
    const int result = application.exec();
    gq::app::WaitForm = nullptr;
    gq::app::fmMain = nullptr;
    return result;
}

// Program entry: the application object, the hand-off to a window already running, the main
// window, the hidden busy window, the files of the command line, the event loop.
// SPDX-License-Identifier: Apache-2.0
#include "app/CommandLine.h"
#include "app/DropAndMergeConnections.h"
#include "app/SingleInstance.h"
#include "app/TApplication.h"
#include "app/TWaitForm.h"
#include "app/TfmMain.h"
#include "app/Translations.h"
#include "automation/EmbeddedServer.h"
#include "engine/ProcessTuning.h"

#include <QCoreApplication>
#include <QDir>
#include <QString>

#include <cstdio>

#include <iostream>

#include <string>
#include <utility>
#include <vector>

int main(int argc, char** argv)
{
    // Answered before the window's application object exists, which needs a display.
    if (const auto request = gq::app::InfoRequestIn(argc, argv)) {
        const QCoreApplication core(argc, argv);
        gq::app::InstallTranslations(QLocale(), gq::app::TranslationFolders());
        return gq::app::AnswerInfoRequest(*request, std::cout);
    }
    gq::engine::TuneProcessForMerging();
    gq::app::TApplication application(argc, argv);
    gq::app::InstallTranslations(QLocale(), gq::app::TranslationFolders());
    // The files and folders a file manager opens with the program; Qt's own options are gone
    // from the arguments by now.
    std::vector<std::string> paths = gq::app::AbsolutePaths(application.arguments().mid(1), QDir::currentPath());
    QString problem;
    gq::app::InstanceServer instance(gq::app::InstanceSocketPath(&problem));
    if (!problem.isEmpty()) {
        // Someone else holds the place where this user's window would listen: nothing is handed
        // over there, and this start opens a window of its own.
        std::fprintf(stderr, "gridquilt: %s: opening a window of its own\n", qPrintable(problem));
    }
    if (instance.HandOffOrListen(paths) == gq::app::InstanceServer::Start::kHandedOff) {
        return 0;
    }
    gq::automation::EmbeddedServerFactory servers;
    gq::app::TfmMain mainWindow;
    gq::app::fmMain = &mainWindow;
    gq::app::ConnectWork(mainWindow, servers);
    gq::app::TWaitForm waitForm(&mainWindow);
    gq::app::WaitForm = &waitForm;
    instance.Attach(mainWindow);
    mainWindow.show();
    // Taken in as a drop of them once the window is up, before anything a later start hands over.
    instance.Enqueue(std::move(paths));
    const int result = application.exec();
    gq::app::WaitForm = nullptr;
    gq::app::fmMain = nullptr;
    return result;
}

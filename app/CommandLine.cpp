// The command-line options the program answers itself.
// SPDX-License-Identifier: Apache-2.0
#include "app/CommandLine.h"

#include <QCoreApplication>

#include <string_view>

namespace gq::app {

std::optional<InfoRequest> InfoRequestIn(int argc, const char* const* argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--") {
            break;
        }
        if (arg == "--help" || arg == "-h") {
            return InfoRequest::Help;
        }
        if (arg == "--version") {
            return InfoRequest::Version;
        }
    }
    return std::nullopt;
}

int AnswerInfoRequest(InfoRequest request, std::ostream& out)
{
    if (request == InfoRequest::Version) {
        out << "gridquilt " GQ_VERSION "\n";
        return 0;
    }
    const QString help = QCoreApplication::translate(
        "CommandLine", "Usage: gridquilt [Qt options] [FILE|FOLDER]...\n"
                       "       gridquilt --help | --version\n"
                       "\n"
                       "Opens the Gridquilt window, which merges worksheets from many workbooks into one new\n"
                       "workbook. The workbooks and folders named are taken in as a drop of them; while a\n"
                       "Gridquilt window is open, they are handed to that window instead.\n"
                       "\n"
                       "Options:\n"
                       "  -h, --help     Show this help.\n"
                       "      --version  Show the version.\n"
                       "Qt options such as -platform NAME and -style NAME work as in every Qt program.\n"
                       "\n"
                       "The same merge from a shell: gridquilt-merge --help.\n");
    out << help.toStdString();
    return out ? 0 : 2;
}

} // namespace gq::app

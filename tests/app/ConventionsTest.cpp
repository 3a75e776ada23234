// Tests of the application's conventions: its title, the failure report's text and the report of
// failures escaping event handlers through the application object.
// SPDX-License-Identifier: Apache-2.0
#include "app/FailureReport.h"
#include "app/TApplication.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QEvent>
#include <QIcon>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace gq::app {
namespace {

struct TextCase {
    std::string in;
    std::string out;
};

TEST(ApplicationTitle, FromTheProgramFileName)
{
    // The table keeps its columns, and a hex escape ends its own literal.
    // clang-format off
    const std::vector<TextCase> cases{
        {"/usr/bin/gridquilt", "Gridquilt"},
        {"gridquilt", "Gridquilt"},
        {"/opt/GRIDQUILT", "Gridquilt"},
        {"/opt/gridQuilt.bin", "Gridquilt"},
        {"/a.b/gq.tool.exe", "Gq"},            // the folder's dot does not count; cut at the first dot
        {"/x/.hidden", ""},                     // everything from the first dot goes
        {"/x/gridquilt/", ""},                  // no file name
        {"/x/\xC3\xA9" "COLE", "\xC3\x89" "cole"},   // first character capitalised, the rest lower-cased
        {"/x/\xC3\x89" "COLE", "\xC3\x89" "cole"},
        {"/x/aB\xC3\x9C" "X", "Ab\xC3\xBC" "x"},
    };
    // clang-format on
    for (const auto& c : cases) {
        EXPECT_EQ(ApplicationTitleFrom(c.in), c.out) << c.in;
    }
}

TEST(FailureReport, AppendsAFullStopByTheCharacterCodeRule)
{
    // The table keeps its columns.
    // clang-format off
    const std::vector<TextCase> cases{
        {"", ""},
        {"Disk full", "Disk full."},
        {"Done.", "Done."},
        {"Really?", "Really?."},  // '?' is above '.'
        {"Stop!", "Stop!"},       // '!' is below '.'
        {"(see log)", "(see log)"},
        {"a,", "a,"},
        {"a-", "a-"},
        {"path/", "path/."},      // '/' is just above '.'
        {"404", "404."},
        {"caf\xC3\xA9", "caf\xC3\xA9."}, // a byte of a UTF-8 sequence is above '.'
        {"trailing ", "trailing "},
    };
    // clang-format on
    for (const auto& c : cases) {
        EXPECT_EQ(FailureReportText(c.in), c.out) << '"' << c.in << '"';
    }
}

// An object whose event handler fails with whatever it is given.
class Thrower : public QObject {
public:
    std::function<void()> failure;
    bool event(QEvent* e) override
    {
        if (e->type() == QEvent::User) {
            failure();
            return true;
        }
        return QObject::event(e);
    }
};

TEST(FailureReport, ApplicationReportsWhatEscapesAHandlerAndGoesOn)
{
    std::vector<std::pair<std::string, std::string>> reports;
    FailureReportSink previous = SetFailureReportSink(
        [&reports](const std::string& title, const std::string& text) { reports.emplace_back(title, text); });

    Thrower thrower;
    QEvent event(QEvent::User);
    thrower.failure = [] { throw std::runtime_error("Server said no"); };
    QApplication::sendEvent(&thrower, &event);
    thrower.failure = [] { throw 42; };
    QApplication::sendEvent(&thrower, &event);
    // Posted events go through the same dispatch.
    thrower.failure = [] { throw std::runtime_error(""); };
    QApplication::postEvent(&thrower, new QEvent(QEvent::User));
    QApplication::processEvents();

    SetFailureReportSink(std::move(previous));
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[0].first, ApplicationTitle());
    EXPECT_EQ(reports[0].second, "Server said no.");
    EXPECT_FALSE(reports[1].second.empty()) << "an unknown failure still says something";
    EXPECT_EQ(reports[2].second, "");
    EXPECT_EQ(ApplicationTitle(), "Gq_app_tests");
}

} // namespace
} // namespace gq::app

namespace gq::app {
namespace {

// The desktop finds the windows' entry by the desktop file name, and the window carries an icon of
// its own.
TEST(DesktopCitizen, DesktopFileNameAndWindowIcon)
{
    EXPECT_EQ(QGuiApplication::desktopFileName(), QString(kDesktopFileName));
    EXPECT_FALSE(QApplication::windowIcon().pixmap(32, 32).isNull());
}

// --help and --version answer on standard output without a display (the X11 platform would abort
// the program without one) and open no window.
TEST(DesktopCitizen, HelpAndVersionNeedNoDisplay)
{
    const std::string program = "env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb " GQ_BINARY_DIR "/app/gridquilt";
    struct Case {
        std::string arguments;
        std::string begins;
    } cases[] = {{"--help", "Usage: gridquilt "}, {"-h", "Usage: gridquilt "}, {"--version", "gridquilt 2."}};
    for (const Case& c : cases) {
        std::string output;
        EXPECT_EQ(test::RunCommand(program + " " + c.arguments, output), 0) << output;
        EXPECT_EQ(output.rfind(c.begins, 0), 0u) << output;
    }
}

} // namespace
} // namespace gq::app

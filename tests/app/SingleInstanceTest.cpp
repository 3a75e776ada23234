// Tests of starting with files and of the hand-off to a running window: the command line's files
// taken in as a drop through the real window, and later starts of the gridquilt program handing
// theirs over the local socket, in order, past a socket that a crashed run left behind.
// SPDX-License-Identifier: Apache-2.0
#include "app/SingleInstance.h"
#include "app/TWaitForm.h"
#include "app/TfmMain.h"
#include "app/Wiring.h"
#include "automation/EmbeddedServer.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QProcess>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

namespace gq::app {
namespace {

// Runs the event loop until `done` holds or `milliseconds` have passed; says whether it held.
bool WaitUntil(const std::function<bool()>& done, int milliseconds = 30000)
{
    const QDeadlineTimer deadline(milliseconds);
    while (!done()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// "sheet name|workbook path below `base`" of every row of a list, top to bottom; a path that is
// not absolute shows as an empty path.
std::vector<std::string> Rows(const SheetList& list, const std::filesystem::path& base)
{
    std::vector<std::string> rows;
    for (SheetRow row = list.FirstRow(); row; row = list.NextRow(row)) {
        const catalogue::SheetEntry& entry = list.EntryOf(row);
        rows.push_back(entry.SheetName + "|" + std::filesystem::path(entry.FileName).lexically_relative(base).string());
    }
    return rows;
}

// The window as the program's entry builds it: real drop intake and merge, the busy window, and
// the hand-off server attached after the handlers are connected.
struct RunningWindow {
    explicit RunningWindow(const QString& socketPath) : instance(socketPath), wait(&window)
    {
        ConnectWork(window, servers);
        WaitForm = &wait;
        instance.Attach(window);
        window.show();
    }
    ~RunningWindow() { WaitForm = nullptr; }
    RunningWindow(const RunningWindow&) = delete;
    RunningWindow& operator=(const RunningWindow&) = delete;

    // Declared first, so that it outlives the window whose handlers it wraps.
    InstanceServer instance;
    automation::EmbeddedServerFactory servers;
    TfmMain window;
    TWaitForm wait;
};

// Counts how often a widget is shown.
class ShowCounter : public QObject {
public:
    int shown = 0;

protected:
    bool eventFilter(QObject* /*watched*/, QEvent* event) override
    {
        shown += event->type() == QEvent::Show ? 1 : 0;
        return false;
    }
};

// Leaves at `path` what a crashed run leaves: a socket file with nobody listening behind it.
void LeaveStaleSocket(const std::string& path)
{
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof(address.sun_path));
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    close(fd);
    ASSERT_TRUE(std::filesystem::exists(path));
}

struct PathCase {
    const char* argument;
    const char* path; // "@" stands for the working directory
};

TEST(StartWithFiles, ArgumentsBecomeTheAbsolutePathsADropCarries)
{
    const PathCase cases[] = {
        {"book.xlsx", "@/book.xlsx"},
        {"./sub/../book.xls", "@/book.xls"},
        {"/data/q1.xlsx", "/data/q1.xlsx"},
        {"reports/", "@/reports"},
        {"file:///data/with%20space.xlsx", "/data/with space.xlsx"},
        {"missing file.xlsx", "@/missing file.xlsx"},
    };
    const QString work = "/home/someone/work";
    for (const PathCase& c : cases) {
        std::string want = c.path;
        if (want.front() == '@') {
            want = work.toStdString() + want.substr(1);
        }
        const std::vector<std::string> got = AbsolutePaths({QString::fromUtf8(c.argument)}, work);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0], want) << c.argument;
    }
}

TEST(StartWithFiles, CommandLineFilesAreTakenInAsADropThroughTheRealWindow)
{
    gq::test::TempDir dir;
    std::filesystem::create_directories(dir.Path() / "folder" / "inner");
    test::WriteBook(dir.File("z.xlsx"), {"Z1", "Z2"});
    test::WriteBook(dir.File("folder/inner/f.xlsx"), {"F"});
    test::WriteBook(dir.File("folder/notes.txt"), {"Ignored"});
    test::WriteBook(dir.File("a.xls"), {"A"});

    RunningWindow running(QString::fromStdString(dir.File("gridquilt.socket")));
    ShowCounter busyShown;
    running.wait.installEventFilter(&busyShown);
    // Relative, as typed in a shell in that folder: resolved there, taken in the order given.
    const std::vector<std::string> paths =
        AbsolutePaths({"z.xlsx", "folder", "./a.xls"}, QString::fromStdString(dir.Path().string()));
    ASSERT_EQ(running.instance.HandOffOrListen(paths), InstanceServer::Start::kFirst);
    running.instance.Enqueue(paths);

    const std::vector<std::string> want = {"Z1|z.xlsx", "Z2|z.xlsx", "F|folder/inner/f.xlsx", "A|a.xls"};
    EXPECT_TRUE(WaitUntil([&] { return running.window.vtSrc->List().EntryCount() >= want.size(); }));
    EXPECT_EQ(Rows(running.window.vtSrc->List(), dir.Path()), want);
    EXPECT_EQ(busyShown.shown, 1) << "one drop, one busy window";
    EXPECT_FALSE(running.wait.isVisible());
}

TEST(HandOff, LaterStartsFillTheRunningWindowsListInOrder)
{
    gq::test::TempDir dir;
    test::WriteBook(dir.File("c.xlsx"), {"C"});
    test::WriteBook(dir.File("a.xls"), {"A"});
    test::WriteBook(dir.File("b.xlsx"), {"B1", "B2"});

    // The socket where the program itself looks, with this folder as the user's runtime folder.
    const QByteArray previousRuntime = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", dir.Path().string().c_str());
    const QString socketPath = InstanceSocketPath();
    qputenv("XDG_RUNTIME_DIR", previousRuntime);
    LeaveStaleSocket(socketPath.toStdString());

    RunningWindow running(socketPath);
    ASSERT_EQ(running.instance.HandOffOrListen({}), InstanceServer::Start::kFirst)
        << "a socket left by a crashed run does not count as a running window";
    ASSERT_TRUE(running.instance.IsListening());

    // Three files opened in turn, two of them by one start, then a start with no files at all.
    const QStringList starts[] = {{"c.xlsx"}, {"a.xls", "b.xlsx"}, {}};
    for (const QStringList& arguments : starts) {
        QProcess later;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir.Path().string()));
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        later.setProcessEnvironment(environment);
        later.setWorkingDirectory(QString::fromStdString(dir.Path().string()));
        later.start(GQ_BINARY_DIR "/app/gridquilt", arguments);
        ASSERT_TRUE(later.waitForStarted()) << later.errorString().toStdString();
        // The window answers from the event loop, so the loop runs while the later start waits.
        const bool ended = WaitUntil([&] { return later.state() == QProcess::NotRunning; });
        if (!ended) {
            later.kill();
            later.waitForFinished();
        }
        ASSERT_TRUE(ended) << "a later start did not end: " << arguments.join(' ').toStdString();
        EXPECT_EQ(later.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(later.exitCode(), 0) << later.readAllStandardError().toStdString();
    }

    const std::vector<std::string> want = {"C|c.xlsx", "A|a.xls", "B1|b.xlsx", "B2|b.xlsx"};
    EXPECT_TRUE(WaitUntil([&] { return running.window.vtSrc->List().EntryCount() >= want.size(); }));
    // Whatever a last drop would still add shows up here as a difference.
    QCoreApplication::processEvents();
    EXPECT_EQ(Rows(running.window.vtSrc->List(), dir.Path()), want);
}

TEST(HandOff, PathsArrivingWhileTheWindowIsBusyWaitForItInOrder)
{
    TfmMain window;
    std::vector<std::string> events;
    InstanceServer* server = nullptr;
    // A drop that takes a while and lets the event loop run meanwhile, as the real one does; the
    // first one is handed two more lists while it runs.
    window.onDrop = [&](const std::vector<std::string>& paths) {
        events.push_back("begin " + paths.front());
        if (paths.front() == "/first") {
            server->Enqueue({"/second"});
            server->Enqueue({"/third"});
            WaitUntil([] { return false; }, 300);
        }
        events.push_back("end " + paths.front());
    };
    gq::test::TempDir dir;
    InstanceServer instance(QString::fromStdString(dir.File("gridquilt.socket")));
    server = &instance;
    instance.Attach(window);
    window.show();
    instance.Enqueue({"/first"});
    EXPECT_TRUE(WaitUntil([&] { return events.size() == 6; }, 10000));
    const std::vector<std::string> want = {"begin /first", "end /first",   "begin /second",
                                           "end /second",  "begin /third", "end /third"};
    EXPECT_EQ(events, want);
}

struct BrokenHandOff {
    const char* name;
    QByteArray bytes;
};

TEST(HandOff, BrokenHandOffsAreDroppedAndTheWindowKeepsListening)
{
    gq::test::TempDir dir;
    test::WriteBook(dir.File("ok.xlsx"), {"Ok"});
    const QString socketPath = QString::fromStdString(dir.File("gridquilt.socket"));
    RunningWindow running(socketPath);
    ASSERT_EQ(running.instance.HandOffOrListen({}), InstanceServer::Start::kFirst);

    const BrokenHandOff cases[] = {
        // Claims 4 GiB of paths: refused before anything is read.
        {"oversized", QByteArray("\xFF\xFF\xFF\xFF", 4) + QByteArray(64, 'x')},
        // Says 100 bytes, sends 3 and goes away.
        {"truncated", QByteArray("\x00\x00\x00\x64", 4) + "/a\0"},
    };
    for (const BrokenHandOff& c : cases) {
        QLocalSocket socket;
        socket.connectToServer(socketPath);
        ASSERT_TRUE(WaitUntil([&] { return socket.state() == QLocalSocket::ConnectedState; }, 5000)) << c.name;
        socket.write(c.bytes);
        socket.flush();
        if (std::string(c.name) == "truncated") {
            socket.disconnectFromServer();
        }
        EXPECT_TRUE(WaitUntil([&] { return socket.state() == QLocalSocket::UnconnectedState; }, 10000)) << c.name;
        EXPECT_EQ(socket.readAll(), QByteArray()) << c.name << ": no answer, nothing taken";
    }

    // A good hand-off after them still arrives.
    const QByteArray path = QByteArray::fromStdString(dir.File("ok.xlsx"));
    const auto length = static_cast<char>(path.size() + 1);
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    ASSERT_TRUE(WaitUntil([&] { return socket.state() == QLocalSocket::ConnectedState; }, 5000));
    socket.write(QByteArray("\x00\x00\x00", 3) + QByteArray(1, length) + path + QByteArray(1, '\0'));
    EXPECT_TRUE(WaitUntil([&] { return running.window.vtSrc->List().EntryCount() == 1; }));
    EXPECT_EQ(Rows(running.window.vtSrc->List(), dir.Path()), std::vector<std::string>{"Ok|ok.xlsx"});
}

} // namespace
} // namespace gq::app

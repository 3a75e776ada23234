// Tests of starting with files and of the hand-off to a running window: the command line's files
// taken in as a drop through the real window, and later starts of the gridquilt program handing
// theirs over the local socket, in order, past a socket that a crashed run left behind.
// SPDX-License-Identifier: Apache-2.0
#include "app/SingleInstance.h"
#include "app/DropAndMergeConnections.h"
#include "app/TWaitForm.h"
#include "app/TfmMain.h"
#include "automation/EmbeddedServer.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>

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

// Each display has its own socket in the user's runtime folder, whatever its name holds.
TEST(HandOff, EachDisplayHasItsOwnSocket)
{
    gq::test::TempDir runtime;
    const QByteArray saved[] = {qgetenv("XDG_RUNTIME_DIR"), qgetenv("WAYLAND_DISPLAY"), qgetenv("DISPLAY")};
    qputenv("XDG_RUNTIME_DIR", runtime.Path().string().c_str());
    const std::pair<const char*, const char*> displays[] = {
        {"", ":0"}, {"", ":1"}, {"wayland-0", ":0"}, {"", "../../x"}};
    std::set<QString> paths;
    for (const auto& [wayland, x11] : displays) {
        qputenv("WAYLAND_DISPLAY", wayland);
        qputenv("DISPLAY", x11);
        const QString path = InstanceSocketPath();
        EXPECT_EQ(QFileInfo(path).absolutePath().toStdString(), runtime.Path().string()) << x11;
        paths.insert(path);
    }
    EXPECT_EQ(paths.size(), std::size(displays));
    const char* names[] = {"XDG_RUNTIME_DIR", "WAYLAND_DISPLAY", "DISPLAY"};
    for (size_t i = 0; i < std::size(names); ++i) {
        saved[i].isEmpty() ? qunsetenv(names[i]) : qputenv(names[i], saved[i]);
    }
}

// The user another local user's processes run as in the attacks below.
constexpr uid_t kOtherUser = 65534;

// Runs `work` in a child process as kOtherUser and returns its id, or -1 where this process cannot
// act as another user (not root). `work` may only make system calls: it runs after a fork.
template <typename Work>
pid_t AsOtherUser(Work work)
{
    if (::geteuid() != 0) {
        return -1;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setresgid(kOtherUser, kOtherUser, kOtherUser) != 0 ||
            ::setresuid(kOtherUser, kOtherUser, kOtherUser) != 0) {
            ::_exit(3);
        }
        ::_exit(work());
    }
    return child;
}

int ListenAt(const std::string& path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), std::min(path.size() + 1, sizeof address.sun_path));
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 16) != 0) {
        return -1;
    }
    ::chmod(path.c_str(), 0777);
    return fd;
}

// What another user's listener does: takes every connection for `seconds`, reads what comes,
// answers as a window would, and writes the number of bytes each connection brought to `report`.
int Eavesdrop(const std::vector<int>& listeners, int report, int seconds)
{
    const time_t end = ::time(nullptr) + seconds;
    while (::time(nullptr) < end) {
        for (const int listener : listeners) {
            pollfd wait{listener, POLLIN, 0};
            if (::poll(&wait, 1, 50) != 1) {
                continue;
            }
            const int client = ::accept(listener, nullptr, nullptr);
            uint64_t received = 0;
            char buffer[4096];
            pollfd more{client, POLLIN, 0};
            while (::poll(&more, 1, 300) == 1) {
                const ssize_t n = ::read(client, buffer, sizeof buffer);
                if (n <= 0) {
                    break;
                }
                received += static_cast<uint64_t>(n);
            }
            const char ack = 0x06;
            (void)!::write(client, &ack, 1);
            ::close(client);
            (void)!::write(report, &received, sizeof received);
        }
    }
    return 0;
}

struct Attack {
    const char* name;
    // Sets the place up as the other user would; returns the listener's process.
    std::function<pid_t(const std::filesystem::path& temp, const std::filesystem::path& runtime, int report)> prepare;
    bool runtimeFolder; // the start has a runtime folder of its own
};

// Another local user who gets to the hand-off's place first, as a folder or link of theirs in the
// shared temporary folder or as their socket in this user's runtime folder, is handed nothing, and
// the start neither stalls nor ends without a window: it opens one and says so on standard error.
TEST(HandOff, AnotherUsersSocketIsNeverHandedAnything)
{
    if (::geteuid() != 0) {
        GTEST_SKIP() << "acting as another user needs root";
    }
    // The socket's name for this display, as a start with this environment looks for it.
    std::string display;
    {
        gq::test::TempDir own;
        const QByteArray previous = qgetenv("TMPDIR");
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
        qputenv("TMPDIR", own.Path().string().c_str());
        qunsetenv("XDG_RUNTIME_DIR");
        display = InstanceSocketPath().section('/', -1).toStdString();
        if (previous.isEmpty()) {
            qunsetenv("TMPDIR");
        } else {
            qputenv("TMPDIR", previous);
        }
        if (!runtime.isEmpty()) {
            qputenv("XDG_RUNTIME_DIR", runtime);
        }
    }
    ASSERT_EQ(display.rfind("gridquilt-", 0), 0u) << display;
    const std::string mine = "gridquilt-" + std::to_string(::geteuid());
    const Attack attacks[] = {
        {"a folder of theirs",
         [&](const std::filesystem::path& temp, const std::filesystem::path&, int report) {
             const std::string folder = (temp / mine).string();
             const std::string inside = folder + "/" + display;
             const std::string old = (temp / (mine + ".socket")).string(); // where it used to be
             return AsOtherUser([=] {
                 ::mkdir(folder.c_str(), 0777);
                 ::chmod(folder.c_str(), 0777);
                 return Eavesdrop({ListenAt(inside), ListenAt(old)}, report, 12);
             });
         },
         false},
        {"a link of theirs",
         [&](const std::filesystem::path& temp, const std::filesystem::path&, int report) {
             const std::string theirs = (temp / "theirs").string();
             const std::string link = (temp / mine).string();
             return AsOtherUser([=] {
                 ::mkdir(theirs.c_str(), 0777);
                 ::chmod(theirs.c_str(), 0777);
                 ::symlink(theirs.c_str(), link.c_str());
                 return Eavesdrop({ListenAt(theirs + "/" + display)}, report, 12);
             });
         },
         false},
        {"their socket in this user's runtime folder",
         [&](const std::filesystem::path& temp, const std::filesystem::path& runtime, int report) {
             const std::string theirs = (temp / "theirs").string();
             const std::string made = theirs + "/" + display;
             const pid_t child = AsOtherUser([=] {
                 ::mkdir(theirs.c_str(), 0777);
                 return Eavesdrop({ListenAt(made)}, report, 12);
             });
             // As if it had got there: put in place by someone allowed to (root, here).
             for (int i = 0; i < 100 && !std::filesystem::exists(made); ++i) {
                 ::usleep(20000);
             }
             std::filesystem::rename(made, runtime / display);
             return child;
         },
         true},
    };
    for (const Attack& attack : attacks) {
        SCOPED_TRACE(attack.name);
        gq::test::TempDir temp;
        gq::test::TempDir runtime;
        std::filesystem::permissions(temp.Path(), std::filesystem::perms::all | std::filesystem::perms::sticky_bit);
        std::filesystem::permissions(runtime.Path(), std::filesystem::perms::owner_all);
        int report[2];
        ASSERT_EQ(::pipe(report), 0);
        const pid_t listener = attack.prepare(temp.Path(), runtime.Path(), report[1]);
        ASSERT_GT(listener, 0);
        ::usleep(300000);

        QProcess start;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("TMPDIR", QString::fromStdString(temp.Path().string()));
        environment.remove("XDG_RUNTIME_DIR");
        if (attack.runtimeFolder) {
            environment.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtime.Path().string()));
        }
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        start.setProcessEnvironment(environment);
        start.start(GQ_BINARY_DIR "/app/gridquilt", {"/secret/plans.xlsx"});
        ASSERT_TRUE(start.waitForStarted());
        QByteArray said;
        WaitUntil(
            [&] {
                said += start.readAllStandardError();
                return said.contains("opening a window of its own") || start.state() == QProcess::NotRunning;
            },
            10000);
        EXPECT_TRUE(said.contains("opening a window of its own")) << said.toStdString();
        EXPECT_EQ(start.state(), QProcess::Running) << "the start opens a window of its own";
        start.kill();
        start.waitForFinished();
        ::kill(listener, SIGTERM);
        ::waitpid(listener, nullptr, 0);
        ::close(report[1]);
        uint64_t received = 0;
        for (uint64_t bytes = 0; ::read(report[0], &bytes, sizeof bytes) == sizeof bytes;) {
            received += bytes;
        }
        ::close(report[0]);
        EXPECT_EQ(received, 0u) << "bytes handed to another user";
    }
}

// The window takes hand-offs only from its own user's starts.
TEST(HandOff, TheWindowTakesNothingFromAnotherUser)
{
    gq::test::TempDir dir;
    std::filesystem::permissions(dir.Path(), std::filesystem::perms::all);
    const QString socketPath = QString::fromStdString(dir.File("gridquilt.socket"));
    RunningWindow running(socketPath);
    ASSERT_EQ(running.instance.HandOffOrListen({}), InstanceServer::Start::kFirst);
    ::chmod(socketPath.toUtf8().constData(), 0777); // as a file system without modes would leave it
    const std::string path = dir.File("ok.xlsx");
    test::WriteBook(path, {"Ok"});
    const std::string frame = std::string("\0\0\0", 3) + static_cast<char>(path.size() + 1) + path + '\0';
    const std::string socketFile = socketPath.toStdString();
    const pid_t client = AsOtherUser([=] {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, socketFile.c_str(), socketFile.size() + 1);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            return 4;
        }
        (void)!::write(fd, frame.data(), frame.size());
        char answer = 0;
        return ::read(fd, &answer, 1) == 1 ? 5 : 0; // an answer means the window took it
    });
    if (client < 0) {
        GTEST_SKIP() << "acting as another user needs root";
    }
    int status = -1;
    ASSERT_TRUE(WaitUntil([&] { return ::waitpid(client, &status, WNOHANG) == client; }, 10000));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    WaitUntil([] { return false; }, 300);
    EXPECT_EQ(running.window.vtSrc->List().EntryCount(), 0u);
}

long ResidentKib()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return 0;
}

// Many clients each holding a large hand-off cost the window a few connections' worth of memory
// at most, a frame beyond what a hand-off needs is dropped before it is read, and what they held is
// given back once they are gone.
TEST(HandOff, ConnectionsAndFramesAreCappedAndTheMemoryIsGivenBack)
{
    gq::test::TempDir dir;
    const QString socketPath = QString::fromStdString(dir.File("gridquilt.socket"));
    RunningWindow running(socketPath);
    ASSERT_EQ(running.instance.HandOffOrListen({}), InstanceServer::Start::kFirst);
    WaitUntil([] { return false; }, 200);
    const long before = ResidentKib();

    constexpr int kClients = 30;
    constexpr uint32_t kClaimed = 3U << 20; // under the cap
    int done[2];
    int release[2];
    ASSERT_EQ(::pipe(done), 0);
    ASSERT_EQ(::pipe(release), 0);
    const std::string socketFile = socketPath.toStdString();
    const pid_t clients = ::fork();
    ASSERT_GE(clients, 0);
    if (clients == 0) {
        std::vector<int> fds;
        std::vector<uint64_t> left;
        const std::vector<char> chunk(65536, 'p');
        for (int i = 0; i < kClients; ++i) {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::memcpy(address.sun_path, socketFile.c_str(), socketFile.size() + 1);
            if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
                continue;
            }
            const uint32_t claimed = kClaimed;
            const unsigned char header[4] = {
                static_cast<unsigned char>(claimed >> 24), static_cast<unsigned char>(claimed >> 16),
                static_cast<unsigned char>(claimed >> 8), static_cast<unsigned char>(claimed)};
            (void)!::send(fd, header, 4, MSG_NOSIGNAL);
            ::fcntl(fd, F_SETFL, O_NONBLOCK);
            fds.push_back(fd);
            left.push_back(claimed - 1024); // never the whole frame: each client holds on
        }
        // Sends until every client has sent its part or been dropped, for 8 seconds at most.
        const time_t end = ::time(nullptr) + 8;
        for (bool busy = true; busy && ::time(nullptr) < end;) {
            busy = false;
            for (size_t i = 0; i < fds.size(); ++i) {
                if (left[i] == 0) {
                    continue;
                }
                const ssize_t n = ::send(fds[i], chunk.data(), std::min<uint64_t>(chunk.size(), left[i]), MSG_NOSIGNAL);
                if (n > 0) {
                    left[i] -= static_cast<uint64_t>(n);
                } else if (errno != EAGAIN) {
                    left[i] = 0;
                }
                busy = busy || left[i] > 0;
            }
            ::usleep(1000);
        }
        char byte = 1;
        (void)!::write(done[1], &byte, 1);
        (void)!::read(release[0], &byte, 1);
        ::_exit(0);
    }
    long peak = before;
    char byte = 0;
    const bool sent = WaitUntil(
        [&] {
            peak = std::max(peak, ResidentKib());
            pollfd wait{done[0], POLLIN, 0};
            return ::poll(&wait, 1, 0) == 1;
        },
        20000);
    EXPECT_TRUE(sent);
    (void)!::read(done[0], &byte, 1);
    (void)!::write(release[1], &byte, 1);
    ::waitpid(clients, nullptr, 0);
    WaitUntil([] { return false; }, 1000);
    const long after = ResidentKib();
    for (const int fd : {done[0], done[1], release[0], release[1]}) {
        ::close(fd);
    }
    const long capKib = InstanceServer::kMaxConnections * (static_cast<long>(InstanceServer::kMaxHandOffBytes) / 1024);
    EXPECT_LT(peak - before, capKib + 16 * 1024) << "KiB held at the peak";
    EXPECT_LT(after - before, 16 * 1024) << "KiB still held once the clients are gone";
}

} // namespace
} // namespace gq::app

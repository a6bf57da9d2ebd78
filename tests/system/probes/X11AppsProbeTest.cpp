#include "FixtureTree.h"
#include "Probes.h"
#include "TestServers.h"
#include "X11Display.h"

#include <gtest/gtest.h>

#include <QLocale>
#include <QProcess>

#include <optional>

#include <unistd.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

using namespace morvane;
using namespace morvane::test;

namespace {

// A top-level window of another "application", on a connection of the test's own.
class TestWindow {
public:
    TestWindow(Display* dpy, const char* instance, const char* windowClass, std::optional<long> pid = {})
        : m_dpy(dpy) {
        m_window = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 10, 10, 200, 100, 0, 0, 0);
        if (windowClass)
            setClass(instance, windowClass);
        if (pid) {
            const Atom netWmPid = XInternAtom(dpy, "_NET_WM_PID", False);
            const unsigned long value = static_cast<unsigned long>(*pid);
            XChangeProperty(dpy, m_window, netWmPid, XA_CARDINAL, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(&value), 1);
        }
        XMapWindow(dpy, m_window);
        XFlush(dpy);
    }
    ~TestWindow() { destroy(); }
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;

    Window id() const { return m_window; }

    void setClass(const char* instance, const char* windowClass) {
        XClassHint hint{const_cast<char*>(instance), const_cast<char*>(windowClass)};
        XSetClassHint(m_dpy, m_window, &hint);
        XFlush(m_dpy);
    }

    void destroy() {
        if (!m_window)
            return;
        XDestroyWindow(m_dpy, m_window);
        XFlush(m_dpy);
        m_window = 0;
    }

    // Mapped and listed by the window manager, so that it can be activated.
    bool waitManaged(int timeoutMs = 5000) const {
        const Atom clientList = XInternAtom(m_dpy, "_NET_CLIENT_LIST", False);
        return waitUntil(
            [&] {
                Atom type = 0;
                int format = 0;
                unsigned long count = 0, after = 0;
                unsigned char* data = nullptr;
                bool found = false;
                if (XGetWindowProperty(m_dpy, DefaultRootWindow(m_dpy), clientList, 0, 4096, False, XA_WINDOW,
                                       &type, &format, &count, &after, &data) == Success &&
                    data) {
                    const auto* windows = reinterpret_cast<const unsigned long*>(data);
                    found = std::find(windows, windows + count, m_window) != windows + count;
                    XFree(data);
                }
                return found;
            },
            timeoutMs);
    }

    // The window manager focuses each new window as it manages it: activating one window while
    // another is still being mapped would lose the focus to that one, so callers wait for all
    // their windows to be managed first.
    bool activate() const {
        return run("xdotool", {"windowactivate", "--sync", QString::number(m_window)}, 5000) == 0;
    }

private:
    Display* m_dpy;
    Window m_window = 0;
};

// Desktop entries and processes under a fixture root; windows on the real (test) X server.
class X11AppsProbeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_display);
        ASSERT_TRUE(tree.ok());
        m_savedDataDirs = qgetenv("XDG_DATA_DIRS");
        m_savedDataHome = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_DIRS", "/usr/share:/opt/share");
        qputenv("XDG_DATA_HOME", "/home/ana/.local/share");

        const QByteArray lang = QLocale::system().name().section('_', 0, 0).toUtf8();
        ASSERT_TRUE(tree.write("usr/share/applications/reunion-video.desktop",
                               "[Desktop Entry]\nType=Application\nName=Reunión Vídeo\n"
                               "Exec=reunion %U\nStartupWMClass=ReunionVideo\n"
                               "[Desktop Action New]\nName=Nueva reunión\n"));
        ASSERT_TRUE(tree.write("usr/share/applications/org.example.Notas.desktop",
                               "[Desktop Entry]\nType=Application\nName=Notes\nName[" + lang +
                                   "]=Notas\\sRápidas\nExec=notas\n"));
        // The user's copy hides the system's entry of the same id.
        ASSERT_TRUE(tree.write("opt/share/applications/zeta.desktop", "[Desktop Entry]\nName=Zeta Suite\n"));
        ASSERT_TRUE(tree.write("home/ana/.local/share/applications/zeta.desktop",
                               "[Desktop Entry]\nName=Z\nHidden=true\n"));
        ASSERT_TRUE(tree.write("proc/4242/comm", "helper-proc\n"));
        ASSERT_TRUE(tree.write("proc/4242/cmdline", QByteArray("helper-proc\0", 12)));
    }

    void TearDown() override {
        qputenv("XDG_DATA_DIRS", m_savedDataDirs);
        qputenv("XDG_DATA_HOME", m_savedDataHome);
    }

    Display* dpy() const { return m_display.get(); }

    FixtureTree tree;

private:
    X11Display m_display;
    QByteArray m_savedDataDirs;
    QByteArray m_savedDataHome;
};

TEST_F(X11AppsProbeTest, FrontmostNameFollowsTheActiveWindow) {
    X11AppsProbe probe(tree.root());
    TestWindow meeting(dpy(), "reunion", "ReunionVideo");
    TestWindow notes(dpy(), "notas", "org.example.Notas");
    TestWindow zeta(dpy(), "zeta", "zeta");
    TestWindow plain(dpy(), "plain", "Plain Tool");
    TestWindow anonymous(dpy(), nullptr, nullptr, 4242);

    const struct {
        const TestWindow& window;
        QString expected;
    } cases[] = {
        {meeting, "Reunión Vídeo"}, // StartupWMClass
        {notes, "Notas Rápidas"},   // desktop file name, localized, value escapes
        {zeta, "zeta"},             // the entry is hidden by the user: WM_CLASS class
        {plain, "Plain Tool"},      // no entry: WM_CLASS class
        {anonymous, "helper-proc"}, // no WM_CLASS: the process behind _NET_WM_PID
    };
    for (const auto& c : cases)
        ASSERT_TRUE(c.window.waitManaged());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected.toStdString());
        ASSERT_TRUE(c.window.activate());
        EXPECT_TRUE(waitUntil([&] { return probe.frontmostAppName() == c.expected; }))
            << probe.frontmostAppName().value_or("(nothing)").toStdString();
    }
}

TEST_F(X11AppsProbeTest, FrontmostNameFollowsARenamedWindow) {
    X11AppsProbe probe(tree.root());
    TestWindow window(dpy(), "tool", "Tool");
    ASSERT_TRUE(window.waitManaged());
    ASSERT_TRUE(window.activate());
    ASSERT_TRUE(waitUntil([&] { return probe.frontmostAppName() == "Tool"; }));
    window.setClass("reunion", "ReunionVideo");
    EXPECT_TRUE(waitUntil([&] { return probe.frontmostAppName() == "Reunión Vídeo"; }));
}

TEST_F(X11AppsProbeTest, FrontmostWindowThatVanishes) {
    X11AppsProbe probe(tree.root());
    TestWindow other(dpy(), "other", "Other");
    TestWindow doomed(dpy(), "doomed", "Doomed");
    ASSERT_TRUE(other.waitManaged());
    ASSERT_TRUE(doomed.waitManaged());
    ASSERT_TRUE(other.activate());
    ASSERT_TRUE(doomed.activate());
    ASSERT_TRUE(waitUntil([&] { return probe.frontmostAppName() == "Doomed"; }));
    EXPECT_EQ(probe.runningApp("doomed"), "Doomed");
    doomed.destroy();
    EXPECT_TRUE(waitUntil([&] { return probe.frontmostAppName() != "Doomed"; }));
    EXPECT_TRUE(waitUntil([&] { return !probe.runningApp("doomed"); }));
}

TEST_F(X11AppsProbeTest, RunningAppsFromWindowsThenProcesses) {
    X11AppsProbe probe(tree.root());
    EXPECT_EQ(probe.runningApp(""), std::nullopt);
    EXPECT_EQ(probe.runningApp(" ,\t, "), std::nullopt);
    EXPECT_EQ(probe.runningApp("helper"), "helper-proc");
    EXPECT_EQ(probe.runningApp("missing, nothing"), std::nullopt);

    // Windows come first, in client-list order, whatever the order of the terms.
    TestWindow meeting(dpy(), "reunion", "ReunionVideo");
    TestWindow helper(dpy(), "helper", "Helper Window");
    ASSERT_TRUE(meeting.waitManaged());
    ASSERT_TRUE(helper.waitManaged());
    EXPECT_TRUE(waitUntil([&] { return probe.runningApp("REUNIÓN") == "Reunión Vídeo"; }));
    EXPECT_EQ(probe.runningApp("helper"), "Helper Window");
    EXPECT_EQ(probe.runningApp("helper, vídeo"), "Reunión Vídeo");
}

TEST_F(X11AppsProbeTest, WithoutAnXServerOnlyProcessesCount) {
    const QByteArray display = qgetenv("DISPLAY");
    qputenv("DISPLAY", ":4095");
    X11AppsProbe probe(tree.root());
    qputenv("DISPLAY", display);
    EXPECT_EQ(probe.frontmostAppName(), std::nullopt);
    EXPECT_EQ(probe.runningApp("helper"), "helper-proc");
}

TEST_F(X11AppsProbeTest, OnlyTheUsersOwnProcesses) {
    if (::getuid() != 0)
        GTEST_SKIP() << "needs to hand a fixture file to another user";
    ASSERT_TRUE(tree.write("proc/5000/comm", "otherzoom\n"));
    ASSERT_TRUE(tree.write("proc/5000/cmdline", QByteArray("otherzoom\0", 10)));
    ASSERT_EQ(::chown(QFile::encodeName(tree.path("proc/5000")).constData(), 12345, 12345), 0);
    // What a kernel thread looks like to root: no command line.
    ASSERT_TRUE(tree.write("proc/2/comm", "kzoomd\n"));
    ASSERT_TRUE(tree.write("proc/2/cmdline", ""));
    ASSERT_TRUE(tree.write("proc/6000/comm", "myzoom\n"));
    ASSERT_TRUE(tree.write("proc/6000/cmdline", QByteArray("myzoom\0", 7)));
    X11AppsProbe probe(tree.root());
    EXPECT_EQ(probe.runningApp("zoom"), "myzoom");
}

TEST_F(X11AppsProbeTest, RealProcessIsFoundByItsName) {
    // A program whose process name (comm) is "zoom.us".
    QTemporaryDir bin;
    ASSERT_TRUE(bin.isValid());
    const QString program = bin.filePath("zoom.us");
    ASSERT_TRUE(QFile::copy("/bin/sleep", program));

    X11AppsProbe probe; // the real /proc and desktop entries
    EXPECT_EQ(probe.runningApp("zoom.us"), std::nullopt);

    QProcess zoom;
    zoom.start(program, {"60"});
    ASSERT_TRUE(zoom.waitForStarted());
    // Process lists are cached for a few seconds.
    EXPECT_TRUE(waitUntil([&] { return probe.runningApp("zoom") == "zoom.us"; }, 15000));
    zoom.kill();
    zoom.waitForFinished();
}

} // namespace

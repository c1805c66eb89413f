// Starting and tearing down the private X session.
#include "xsession.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

#include "platform/x11/x11_reply.h"

extern char** environ;

namespace sombrix::test {

namespace {

using Clock = std::chrono::steady_clock;
using x11::own;

// The executable `name` resolves to on PATH, as a shell would find it.
std::optional<std::string> findOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos) {
            end = dirs.size();
        }
        std::string candidate = dirs.substr(start, end - start) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        start = end + 1;
    }
    return std::nullopt;
}

bool verbose() {
    return std::getenv("SOMBRIX_XSESSION_VERBOSE") != nullptr;
}

// fork + exec into a new process group. Only async-signal-safe calls between fork and exec; the
// child dies with the test process, so a crashed or timed-out test leaves no server behind.
pid_t forkExec(const std::vector<std::string>& argv, const std::string& display, int keepFd,
               int stdoutFd) {
    std::vector<char*> args;
    for (const auto& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);

    std::vector<std::string> envStrings;
    for (char** e = environ; e && *e; ++e) {
        if (std::strncmp(*e, "DISPLAY=", 8) != 0) {
            envStrings.emplace_back(*e);
        }
    }
    if (!display.empty()) {
        envStrings.push_back("DISPLAY=" + display);
    }
    std::vector<char*> env;
    for (auto& s : envStrings) {
        env.push_back(s.data());
    }
    env.push_back(nullptr);

    // Resolve the program before forking (execvpe is not async-signal-safe on every libc).
    std::string program = argv.at(0);
    if (program.find('/') == std::string::npos) {
        program = findOnPath(program).value_or(program);
    }
    const pid_t parent = ::getpid();
    const bool quiet = !verbose();

    pid_t pid = ::fork();
    if (pid != 0) {
        if (pid > 0) {
            ::setpgid(pid, pid);  // also from the parent, so kill(-pid) works at once
        }
        return pid;
    }
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) {
        ::_exit(127);
    }
    int devnull = ::open("/dev/null", O_RDWR);
    if (devnull >= 0) {
        ::dup2(devnull, 0);
        if (stdoutFd >= 0) {
            ::dup2(stdoutFd, 1);
        } else if (quiet) {
            ::dup2(devnull, 1);
        }
        if (quiet) {
            ::dup2(devnull, 2);
        }
    }
    // Close everything else except the descriptor the child must inherit.
    for (int fd = 3; fd < 1024; ++fd) {
        if (fd != keepFd) {
            ::close(fd);
        }
    }
    ::execve(program.c_str(), args.data(), env.data());
    ::_exit(127);
}

void killGroup(pid_t pid) {
    if (pid <= 0) {
        return;
    }
    ::kill(-pid, SIGTERM);
    const auto deadline = Clock::now() + std::chrono::seconds(3);
    while (Clock::now() < deadline) {
        pid_t r = ::waitpid(pid, nullptr, WNOHANG);
        if (r == pid || (r < 0 && errno == ECHILD)) {
            ::kill(-pid, SIGKILL);  // anything the leader left behind in its group
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::kill(-pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

struct ConnectionDeleter {
    void operator()(xcb_connection_t* c) const { xcb_disconnect(c); }
};
using Connection = std::unique_ptr<xcb_connection_t, ConnectionDeleter>;

Connection connectTo(const std::string& display, xcb_window_t* root) {
    Connection c(xcb_connect(display.c_str(), nullptr));
    if (!c || xcb_connection_has_error(c.get())) {
        return nullptr;
    }
    *root = xcb_setup_roots_iterator(xcb_get_setup(c.get())).data->root;
    return c;
}

xcb_atom_t internAtom(xcb_connection_t* c, const char* name) {
    auto reply = own(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr));
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

std::optional<xcb_window_t> windowProperty(xcb_connection_t* c, xcb_window_t w, xcb_atom_t a) {
    auto reply = own(
        xcb_get_property_reply(c, xcb_get_property(c, 0, w, a, XCB_ATOM_WINDOW, 0, 1), nullptr));
    if (reply && reply->format == 32 && xcb_get_property_value_length(reply.get()) == 4) {
        return *static_cast<xcb_window_t*>(xcb_get_property_value(reply.get()));
    }
    return std::nullopt;
}

}  // namespace

bool programInstalled(const std::string& name) {
    return findOnPath(name).has_value();
}

bool waitUntil(const std::function<bool()>& predicate, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    auto pause = std::chrono::milliseconds(1);
    while (true) {
        if (predicate()) {
            return true;
        }
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(20));
    }
}

std::vector<std::string> XSession::missingPrograms(const XSessionOptions& options) {
    std::vector<std::string> needed{"Xvfb"};
    if (options.windowManager) {
        needed.emplace_back("openbox");
    }
    if (options.compositor) {
        needed.emplace_back("picom");
    }
    if (options.twoMonitors) {
        needed.emplace_back("xrandr");
    }
    std::vector<std::string> missing;
    for (const auto& p : needed) {
        if (!programInstalled(p)) {
            missing.push_back(p);
        }
    }
    return missing;
}

XSession::XSession(XSessionOptions options) : options_(std::move(options)) {
    if (options_.twoMonitors) {
        options_.width = 1600;
        options_.height = 900;
    }
    if (options_.compositor) {
        options_.composite = true;
    }
    auto missing = missingPrograms(options_);
    if (!missing.empty()) {
        unavailable_ = true;
        std::string list;
        for (const auto& m : missing) {
            list += (list.empty() ? "" : ", ") + m;
        }
        fail("not installed: " + list);
        return;
    }
    if (!startServer()) {
        return;
    }
    if (options_.twoMonitors && !addTwoMonitors()) {
        return;
    }
    if (options_.windowManager && !startWindowManager()) {
        return;
    }
    if (options_.compositor && !startCompositor()) {
        return;
    }
}

XSession::~XSession() {
    // Clients first, the server last, so nothing reconnects to a half-dead display.
    for (auto it = children_.rbegin(); it != children_.rend(); ++it) {
        killGroup(*it);
    }
    if (!configDir_.empty()) {
        ::unlink((configDir_ + "/rc.xml").c_str());
        ::rmdir(configDir_.c_str());
    }
}

void XSession::fail(std::string message) {
    if (error_.empty()) {
        error_ = std::move(message);
    }
}

bool XSession::startServer() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        fail("pipe failed");
        return false;
    }
    // The write end must survive exec in the child; the parent keeps it close-on-exec.
    int childFd = ::fcntl(fds[1], F_DUPFD, 10);
    std::vector<std::string> argv{
        "Xvfb",
        "-displayfd",
        std::to_string(childFd),
        "-screen",
        "0",
        std::to_string(options_.width) + "x" + std::to_string(options_.height) + "x24",
        "-nolisten",
        "tcp",
        "-noreset"};
    if (options_.composite) {
        argv.insert(argv.end(), {"+extension", "Composite"});
    }
    pid_t pid = forkExec(argv, "", childFd, -1);
    ::close(childFd);
    ::close(fds[1]);
    if (pid < 0) {
        ::close(fds[0]);
        fail("could not start Xvfb");
        return false;
    }
    children_.push_back(pid);

    std::string number;
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < deadline) {
        pollfd p{fds[0], POLLIN, 0};
        int left = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
        if (::poll(&p, 1, std::max(left, 1)) <= 0) {
            continue;
        }
        char buf[32];
        ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n <= 0) {
            break;
        }
        number.append(buf, static_cast<std::size_t>(n));
        if (number.find('\n') != std::string::npos) {
            break;
        }
    }
    ::close(fds[0]);
    while (!number.empty() && (number.back() == '\n' || number.back() == ' ')) {
        number.pop_back();
    }
    if (number.empty()) {
        fail("Xvfb did not report a display number");
        return false;
    }
    display_ = ":" + number;
    xcb_window_t root = 0;
    if (!connectTo(display_, &root)) {
        fail("cannot connect to the new server " + display_);
        return false;
    }
    return true;
}

pid_t XSession::spawn(const std::vector<std::string>& argv) {
    pid_t pid = forkExec(argv, display_, -1, -1);
    if (pid > 0) {
        children_.push_back(pid);
    }
    return pid;
}

void XSession::kill(pid_t pid) {
    auto it = std::find(children_.begin(), children_.end(), pid);
    if (it == children_.end()) {
        return;
    }
    children_.erase(it);
    killGroup(pid);
}

int XSession::run(const std::vector<std::string>& argv, std::string* output,
                  std::chrono::milliseconds timeout) {
    int fds[2] = {-1, -1};
    if (output && ::pipe2(fds, O_CLOEXEC) != 0) {
        return -1;
    }
    int childOut = output ? ::fcntl(fds[1], F_DUPFD, 10) : -1;
    pid_t pid = forkExec(argv, display_, childOut, childOut);
    if (output) {
        ::close(childOut);
        ::close(fds[1]);
    }
    if (pid < 0) {
        if (output) {
            ::close(fds[0]);
        }
        return -1;
    }
    const auto deadline = Clock::now() + timeout;
    int status = 0;
    bool done = false;
    while (Clock::now() < deadline) {
        if (output) {
            pollfd p{fds[0], POLLIN, 0};
            if (::poll(&p, 1, 10) > 0) {
                char buf[4096];
                ssize_t n = ::read(fds[0], buf, sizeof buf);
                if (n > 0) {
                    output->append(buf, static_cast<std::size_t>(n));
                    continue;
                }
            }
        }
        pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            done = true;
            break;
        }
        if (!output) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    if (output) {
        char buf[4096];
        ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
        ssize_t n;
        while ((n = ::read(fds[0], buf, sizeof buf)) > 0) {
            output->append(buf, static_cast<std::size_t>(n));
        }
        ::close(fds[0]);
    }
    if (!done) {
        killGroup(pid);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool XSession::startWindowManager() {
    // No user configuration: the defaults are what the tests rely on.
    char dir[] = "/tmp/sombrix-openbox-XXXXXX";
    std::string config;
    if (configDir_.empty() && ::mkdtemp(dir)) {
        configDir_ = dir;
    }
    if (!configDir_.empty()) {
        config = configDir_ + "/rc.xml";
        FILE* f = std::fopen(config.c_str(), "w");
        if (f) {
            std::fputs(
                "<?xml version=\"1.0\"?>\n<openbox_config "
                "xmlns=\"http://openbox.org/3.4/rc\">\n"
                "<focus><focusNew>yes</focusNew><followMouse>no</followMouse></focus>\n"
                "<placement><policy>Smart</policy></placement>\n"
                "<desktops><number>2</number></desktops>\n"
                "</openbox_config>\n",
                f);
            std::fclose(f);
        }
    }
    std::vector<std::string> argv{"openbox", "--sm-disable"};
    if (!config.empty()) {
        argv.insert(argv.end(), {"--config-file", config});
    }
    if (spawn(argv) < 0) {
        fail("could not start openbox");
        return false;
    }
    xcb_window_t root = 0;
    Connection c = connectTo(display_, &root);
    if (!c) {
        fail("lost the server while starting openbox");
        return false;
    }
    xcb_atom_t check = internAtom(c.get(), "_NET_SUPPORTING_WM_CHECK");
    xcb_atom_t clientList = internAtom(c.get(), "_NET_CLIENT_LIST_STACKING");
    bool ready = waitUntil(
        [&] {
            auto w = windowProperty(c.get(), root, check);
            if (!w) {
                return false;
            }
            // The check window names itself once the manager is fully set up; the stacking
            // list appears when it has scanned existing windows.
            auto self = windowProperty(c.get(), *w, check);
            if (!self || *self != *w) {
                return false;
            }
            auto reply = own(xcb_get_property_reply(
                c.get(), xcb_get_property(c.get(), 0, root, clientList, XCB_ATOM_ANY, 0, 0),
                nullptr));
            return reply && reply->type != XCB_ATOM_NONE;
        },
        std::chrono::seconds(20));
    if (!ready) {
        fail("openbox did not take over the screen");
        return false;
    }
    // openbox publishes all of the above before its main loop runs, and a map request that
    // arrives in between is sometimes dropped. A probe window it has really managed proves the
    // manager is running; the probe is mapped again until then.
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c.get())).data;
    xcb_window_t probe = xcb_generate_id(c.get());
    xcb_create_window(c.get(), XCB_COPY_FROM_PARENT, probe, root, 0, 0, 10, 10, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
    xcb_atom_t clients = internAtom(c.get(), "_NET_CLIENT_LIST");
    auto managed = [&] {
        auto reply = own(xcb_get_property_reply(
            c.get(), xcb_get_property(c.get(), 0, root, clients, XCB_ATOM_WINDOW, 0, 1024),
            nullptr));
        if (!reply || reply->format != 32) {
            return false;
        }
        auto* ids = static_cast<xcb_window_t*>(xcb_get_property_value(reply.get()));
        int n = xcb_get_property_value_length(reply.get()) / 4;
        return std::find(ids, ids + n, probe) != ids + n;
    };
    bool running = false;
    for (int attempt = 0; attempt < 20 && !running; ++attempt) {
        xcb_map_window(c.get(), probe);
        xcb_flush(c.get());
        running = waitUntil(managed, std::chrono::milliseconds(500));
    }
    xcb_destroy_window(c.get(), probe);
    xcb_flush(c.get());
    if (!running || !waitUntil([&] { return !managed(); })) {
        fail("openbox does not manage windows");
        return false;
    }
    return true;
}

bool XSession::startCompositor() {
    if (spawn({"picom", "--backend", "xrender", "--config", "/dev/null"}) < 0) {
        fail("could not start picom");
        return false;
    }
    xcb_window_t root = 0;
    Connection c = connectTo(display_, &root);
    if (!c) {
        fail("lost the server while starting picom");
        return false;
    }
    xcb_atom_t selection = internAtom(c.get(), "_NET_WM_CM_S0");
    bool ready = waitUntil(
        [&] {
            auto reply = own(xcb_get_selection_owner_reply(
                c.get(), xcb_get_selection_owner(c.get(), selection), nullptr));
            return reply && reply->owner != XCB_NONE;
        },
        std::chrono::seconds(20));
    if (!ready) {
        fail("picom did not start compositing");
        return false;
    }
    return true;
}

bool XSession::addTwoMonitors() {
    if (run({"xrandr", "--setmonitor", "LEFT", "800/211x900/238+0+0", "screen"}) != 0 ||
        run({"xrandr", "--setmonitor", "RIGHT", "800/211x900/238+800+0", "none"}) != 0) {
        fail("xrandr --setmonitor failed");
        return false;
    }
    return true;
}

void XSession::removeRightMonitor() {
    run({"xrandr", "--delmonitor", "RIGHT"});
}

}  // namespace sombrix::test

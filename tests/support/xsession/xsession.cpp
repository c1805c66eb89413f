// Starting and tearing down the private X session.
#include "xsession.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "xquery.h"

extern char** environ;

namespace sombrix::test {

namespace {

using Clock = std::chrono::steady_clock;

// The executable `name` resolves to on PATH, as a shell would find it.
std::optional<std::string> findOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');)
        if (::access((dir + "/" + name).c_str(), X_OK) == 0)
            return dir + "/" + name;
    return std::nullopt;
}

// The environment as `entries` ("NAME=value" sets, a bare "NAME" removes) change it.
std::vector<std::string> environmentWith(const std::vector<std::string>& entries) {
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e)
        env.emplace_back(*e);
    for (const auto& entry : entries) {
        const std::string name = entry.substr(0, entry.find('='));
        std::erase_if(env, [&](const std::string& e) { return e.rfind(name + "=", 0) == 0; });
        if (entry.find('=') != std::string::npos)
            env.push_back(entry);
    }
    return env;
}

// fork + exec into a new process group; standard output (and with `bothStreams` standard error)
// goes to the file `out` when one is named. Only async-signal-safe calls between fork and exec;
// the child dies with the test process, so a crashed or timed-out test leaves no server behind.
pid_t forkExec(const std::vector<std::string>& argv, std::vector<std::string> env,
               const std::string& out = {}, bool bothStreams = false) {
    std::vector<char*> args, envp;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    for (auto& s : env)
        envp.push_back(s.data());
    args.push_back(nullptr);
    envp.push_back(nullptr);
    // Resolve the program before forking (execvpe is not async-signal-safe on every libc).
    const std::string program =
        argv.at(0).find('/') == std::string::npos ? findOnPath(argv[0]).value_or(argv[0]) : argv[0];
    const pid_t parent = ::getpid();

    const pid_t pid = ::fork();
    if (pid != 0) {
        if (pid > 0)
            ::setpgid(pid, pid);  // also from the parent, so kill(-pid) works at once
        return pid;
    }
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent)
        ::_exit(127);
    const int devnull = ::open("/dev/null", O_RDWR);
    const int file = out.empty() ? -1 : ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(devnull, 0);
    ::dup2(file >= 0 ? file : devnull, 1);
    ::dup2(bothStreams && file >= 0 ? file : devnull, 2);
    for (int fd = 3; fd < 1024; ++fd)
        ::close(fd);
    ::execve(program.c_str(), args.data(), envp.data());
    ::_exit(127);
}

void killGroup(pid_t pid) {
    if (pid <= 0)
        return;
    ::kill(-pid, SIGTERM);
    const bool ended = waitUntil(
        [&] {
            const pid_t r = ::waitpid(pid, nullptr, WNOHANG);
            return r == pid || (r < 0 && errno == ECHILD);
        },
        std::chrono::seconds(3));
    ::kill(-pid, SIGKILL);  // anything the leader left behind in its group
    if (!ended)
        ::waitpid(pid, nullptr, 0);
}

using Connection = std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)>;

Connection connectTo(const std::string& display) {
    Connection c(xcb_connect(display.c_str(), nullptr), &xcb_disconnect);
    return xcb_connection_has_error(c.get()) ? Connection(nullptr, &xcb_disconnect) : std::move(c);
}

}  // namespace

std::vector<Monitor> twoMonitors() {
    return {{"LEFT", 0, 0, 800, 900}, {"RIGHT", 800, 0, 800, 900}};
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool writeFile(const std::string& path, const std::string& contents) {
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    // Written aside and renamed, so a reader never sees half a file.
    const std::string temporary = path + ".writing";
    std::ofstream(temporary, std::ios::binary | std::ios::trunc) << contents;
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

bool programInstalled(const std::string& name) {
    return findOnPath(name).has_value();
}

bool waitUntil(const std::function<bool()>& predicate, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (auto pause = std::chrono::milliseconds(1);;
         pause = std::min(pause * 2, std::chrono::milliseconds(20))) {
        if (predicate())
            return true;
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(pause);
    }
}

XSession::XSession(XSessionOptions options) : options_(std::move(options)) {
    if (!options_.monitors.empty()) {
        options_.width = options_.height = 0;
        for (const Monitor& m : options_.monitors) {
            options_.width = std::max(options_.width, m.x + m.width);
            options_.height = std::max(options_.height, m.y + m.height);
        }
    }
    options_.composite = options_.composite || options_.compositor;
    const auto& wm = options_.windowManager;
    const std::initializer_list<std::pair<bool, std::string>> needed{
        {true, "Xvfb"},
        {!wm.command.empty(), wm.command.empty() ? "" : wm.command[0]},
        {wm.privateBus, "dbus-daemon"},
        {options_.compositor, "picom"},
        {!options_.monitors.empty(), "xrandr"},
        {options_.dpi.has_value(), "xrdb"}};
    for (const auto& [wanted, program] : needed)
        if (wanted && !programInstalled(program))
            unavailable_ = !fail("not installed: " + program);
    char dir[] = "/tmp/sombrix-xsession-XXXXXX";
    if (unavailable_ || !::mkdtemp(dir)) {
        fail("no temporary directory");
        return;
    }
    dir_ = dir;
    // A bus address that leads nowhere unless the session has a bus of its own: with none at all,
    // D-Bus would start a bus for the display that outlives the session.
    environment.push_back("DBUS_SESSION_BUS_ADDRESS=unix:path=" + dir_ + "/no-bus");
    if (!startServer() || (wm.privateBus && !startBus()))
        return;
    for (std::size_t i = 0; i < options_.monitors.size(); ++i)
        if (!setMonitor(options_.monitors[i], i == 0))
            return;
    const std::string resources = dir_ + "/resources";
    if (options_.dpi && (!writeFile(resources, "Xft.dpi: " + std::to_string(*options_.dpi)) ||
                         run({"xrdb", "-merge", resources}) != 0)) {
        fail("xrdb could not set the DPI");
        return;
    }
    if ((wm.command.empty() || startWindowManager()) && options_.compositor)
        startCompositor();
}

XSession::~XSession() {
    // Clients first, the server last, so nothing reconnects to a half-dead display.
    for (auto it = children_.rbegin(); it != children_.rend(); ++it)
        killGroup(*it);
    std::error_code ignored;  // no directory when the session could not start
    std::filesystem::remove_all(dir_, ignored);
}

bool XSession::fail(std::string message) {
    if (error_.empty())
        error_ = std::move(message);
    return false;
}

bool XSession::startServer() {
    // Xvfb picks a free display number and writes it to its standard output.
    const std::string size =
        std::to_string(options_.width) + "x" + std::to_string(options_.height) + "x24";
    std::vector<std::string> argv{"Xvfb", "-displayfd", "1",   "-screen", "0",
                                  size,   "-nolisten",  "tcp", "-noreset"};
    if (options_.composite)
        argv.insert(argv.end(), {"+extension", "Composite"});
    const std::string numberFile = dir_ + "/display";
    const pid_t pid = forkExec(argv, environmentWith({}), numberFile);
    if (pid > 0)
        children_.push_back(pid);
    std::string number;
    waitUntil([&] { return (number = readFile(numberFile)).find('\n') != std::string::npos; },
              std::chrono::seconds(20));
    number = number.substr(0, number.find_first_of("\n "));
    if (pid <= 0 || number.empty())
        return fail("Xvfb did not start");
    display_ = ":" + number;
    environment.push_back("DISPLAY=" + display_);
    if (!connectTo(display_))
        return fail("cannot connect to the new server " + display_);
    return true;
}

bool XSession::startBus() {
    const std::string socket = dir_ + "/bus";
    if (spawn({"dbus-daemon", "--session", "--nofork", "--address=unix:path=" + socket}) < 0 ||
        !waitUntil([&] { return std::filesystem::exists(socket); }))
        return fail("the private D-Bus session bus did not start");
    std::erase_if(environment,
                  [](const std::string& e) { return e.starts_with("DBUS_SESSION_BUS_ADDRESS="); });
    environment.push_back("DBUS_SESSION_BUS_ADDRESS=unix:path=" + socket);
    return true;
}

pid_t XSession::spawn(const std::vector<std::string>& argv, const std::vector<std::string>& extra,
                      const std::string& output) {
    auto entries = environment;
    entries.insert(entries.end(), extra.begin(), extra.end());
    const pid_t pid = forkExec(argv, environmentWith(entries), output, true);
    if (pid > 0)
        children_.push_back(pid);
    return pid;
}

void XSession::kill(pid_t pid) {
    if (std::erase(children_, pid) > 0)
        killGroup(pid);
}

int XSession::run(const std::vector<std::string>& argv, std::string* output,
                  std::chrono::milliseconds timeout) {
    const std::string out = dir_ + "/output";
    const pid_t pid = forkExec(argv, environmentWith(environment), out);
    int status = 0;
    const bool ended =
        pid > 0 && waitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, timeout);
    if (pid > 0 && !ended)
        killGroup(pid);
    if (output)
        *output += readFile(out);
    return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool XSession::startWindowManager() {
    // A session started without one gets openbox when a test starts it later.
    auto command = options_.windowManager.command;
    if (command.empty() || command == std::vector<std::string>{"openbox"}) {
        command = {"openbox"};
        const std::string config = dir_ + "/openbox.xml";
        writeFile(config,
                  "<?xml version=\"1.0\"?>\n<openbox_config "
                  "xmlns=\"http://openbox.org/3.4/rc\">\n"
                  "<focus><focusNew>yes</focusNew><followMouse>no</followMouse>"
                  "</focus>\n<placement><policy>Smart</policy></placement>\n"
                  "<desktops><number>2</number></desktops>\n</openbox_config>\n");
        command.insert(command.end(), {"--sm-disable", "--config-file", config});
    } else if (command == std::vector<std::string>{"i3"}) {
        // No bar and no configuration wizard; a click, not the pointer, moves focus; tiles side by
        // side on monitors taller than wide.
        const std::string config = dir_ + "/i3.conf";
        std::ofstream(config) << "# i3 config file (v4)\nfont pango:monospace 8\n"
                                 "default_border pixel 1\nfocus_follows_mouse no\n"
                                 "default_orientation horizontal\n";
        command.insert(command.end(), {"-c", config});
    }
    windowManagerPid_ = spawn(command, options_.windowManager.environment);
    const Connection c = connectTo(display_);
    if (windowManagerPid_ < 0 || !c)
        return fail("could not start " + command.front());
    // The manager names its check window once it is set up, but some publish that before their
    // main loop runs, and a map request in between may be dropped. A probe window it has really
    // managed proves it is running; the probe is mapped again until then.
    const xcb_window_t root = rootOf(c.get());
    const bool named =
        waitUntil([&] { return managerWindow(c.get()).has_value(); }, std::chrono::seconds(20));
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c.get())).data;
    const xcb_window_t probe = xcb_generate_id(c.get());
    xcb_create_window(c.get(), XCB_COPY_FROM_PARENT, probe, root, 0, 0, 10, 10, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
    const xcb_atom_t clients = atom(c.get(), "_NET_CLIENT_LIST");
    const auto managed = [&] {
        const auto list = list32(c.get(), root, clients, XCB_ATOM_WINDOW);
        return std::find(list.begin(), list.end(), probe) != list.end();
    };
    bool running = false;
    for (int attempt = 0; named && attempt < 20 && !running; ++attempt) {
        xcb_map_window(c.get(), probe);
        xcb_flush(c.get());
        running = waitUntil(managed, std::chrono::milliseconds(500));
    }
    xcb_destroy_window(c.get(), probe);
    xcb_flush(c.get());
    return (running && waitUntil([&] { return !managed(); })) ||
           fail(command.front() + " does not manage windows");
}

bool XSession::startCompositor() {
    const Connection c = connectTo(display_);
    const xcb_atom_t selection = c ? atom(c.get(), "_NET_WM_CM_S0") : xcb_atom_t{XCB_ATOM_NONE};
    compositorPid_ = spawn({"picom", "--backend", "xrender", "--config", "/dev/null"});
    const auto owned = [&] {
        const auto owner = awaitReply(c.get(), xcb_get_selection_owner_reply,
                                      xcb_get_selection_owner(c.get(), selection));
        return owner && owner->owner != XCB_NONE;
    };
    return (compositorPid_ > 0 && c && waitUntil(owned, std::chrono::seconds(20))) ||
           fail("picom did not start compositing");
}

bool XSession::setMonitor(const Monitor& m, bool first) {
    // Physical sizes at about 96 DPI; the first monitor takes over the screen's own output.
    const std::string geometry =
        std::to_string(m.width) + "/" + std::to_string(m.width * 254 / 960) + "x" +
        std::to_string(m.height) + "/" + std::to_string(m.height * 254 / 960) + "+" +
        std::to_string(m.x) + "+" + std::to_string(m.y);
    return run({"xrandr", "--setmonitor", m.name, geometry, first ? "screen" : "none"}) == 0 ||
           fail("xrandr --setmonitor " + m.name + " failed");
}

void XSession::removeMonitor(const std::string& name) {
    run({"xrandr", "--delmonitor", name});
}

}  // namespace sombrix::test

// Starting, watching and ending the sombrix binary for soak and recovery tests.
#include "sombrix_process.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace sombrix::test {

SombrixProcess::SombrixProcess(XSession& session, std::string binary, std::string configHome,
                               std::string stderrFile)
    : session_(session),
      binary_(std::move(binary)),
      configHome_(std::move(configHome)),
      stderrFile_(std::move(stderrFile)) {}

SombrixProcess::~SombrixProcess() {
    if (running())
        terminate(3000);
    if (running()) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

bool SombrixProcess::start() {
    // The child takes the environment as it is when spawned.
    ::setenv("XDG_CONFIG_HOME", configHome_.c_str(), 1);
    // exec keeps the pid, so the pid is sombrix's own and its wait status is sombrix's.
    pid_ = session_.spawn({"/bin/sh", "-c", "exec \"$0\" 2>\"$1\"", binary_, stderrFile_});
    status_.reset();
    return pid_ > 0;
}

bool SombrixProcess::running() {
    if (pid_ <= 0 || status_)
        return false;
    int status = 0;
    const pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
        status_ = status;
        return false;
    }
    return r == 0;
}

bool SombrixProcess::waitForExit(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (running()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return status_.has_value();
}

bool SombrixProcess::terminate(int timeoutMs) {
    if (!running())
        return status_.has_value();
    ::kill(pid_, SIGTERM);
    return waitForExit(timeoutMs);
}

std::string SombrixProcess::stderrText() const {
    return readFile(stderrFile_);
}

std::optional<long> SombrixProcess::residentKb() const {
    std::ifstream in("/proc/" + std::to_string(pid_) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return std::nullopt;
}

std::string SombrixProcess::howItEnded() const {
    if (!status_)
        return "still running";
    const int s = *status_;
    if (WIFEXITED(s))
        return "exit status " + std::to_string(WEXITSTATUS(s));
    if (WIFSIGNALED(s))
        return std::string("killed by signal ") + std::to_string(WTERMSIG(s)) + " (" +
               ::strsignal(WTERMSIG(s)) + ")" + (WCOREDUMP(s) ? ", core dumped" : "");
    return "ended oddly";
}

std::vector<xcb_window_t> overlayWindows(xcb_connection_t* c) {
    std::vector<xcb_window_t> found;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    auto* atomReply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, 16, "_SOMBRIX_OVERLAY"), nullptr);
    const xcb_atom_t marker = atomReply ? atomReply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(atomReply);
    auto* tree = xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr);
    if (!tree)
        return found;
    const xcb_window_t* children = xcb_query_tree_children(tree);
    for (int i = 0; i < xcb_query_tree_children_length(tree); ++i) {
        auto* reply = xcb_get_property_reply(
            c, xcb_get_property(c, 0, children[i], marker, XCB_ATOM_ANY, 0, 1), nullptr);
        if (reply && reply->type != XCB_ATOM_NONE)
            found.push_back(children[i]);
        std::free(reply);
    }
    std::free(tree);
    return found;
}

std::vector<xcb_window_t> mappedOverlays(xcb_connection_t* c) {
    std::vector<xcb_window_t> mapped;
    for (xcb_window_t w : overlayWindows(c)) {
        auto* a = xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, w), nullptr);
        if (a && a->map_state == XCB_MAP_STATE_VIEWABLE)
            mapped.push_back(w);
        std::free(a);
    }
    return mapped;
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
    // Write aside and rename, so a reader never sees half a file.
    const std::string temporary = path + ".writing";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out)
            return false;
        out << contents;
        if (!out)
            return false;
    }
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

std::string makeTempDir(const std::string& prefix) {
    std::string pattern = "/tmp/" + prefix + "-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        return {};
    return pattern;
}

void removeTree(const std::string& path) {
    std::error_code ignored;
    if (!path.empty())
        std::filesystem::remove_all(path, ignored);
}

}  // namespace sombrix::test

// The built sombrix binary as a test drives it: started in a session with its own settings
// directory and its standard error kept in a file, watched for an unexpected exit, measured
// (resident memory) and ended with SIGTERM.
#pragma once

#include <sys/types.h>
#include <xcb/xcb.h>

#include <optional>
#include <string>
#include <vector>

#include "xsession.h"

namespace sombrix::test {

class SombrixProcess {
public:
    // XDG_CONFIG_HOME for the child is `configHome`; standard error goes to `stderrFile`.
    SombrixProcess(XSession& session, std::string binary, std::string configHome,
                   std::string stderrFile);
    ~SombrixProcess();
    SombrixProcess(const SombrixProcess&) = delete;
    SombrixProcess& operator=(const SombrixProcess&) = delete;

    bool start();
    pid_t pid() const { return pid_; }
    // Reaps the process when it has ended; false once it has.
    bool running();
    // The raw wait status once it ended.
    std::optional<int> waitStatus() const { return status_; }
    // Waits up to `timeoutMs` for it to end on its own; true when it did.
    bool waitForExit(int timeoutMs);
    // SIGTERM and wait; true when it ended in time.
    bool terminate(int timeoutMs = 5000);
    std::string stderrText() const;
    // VmRSS in kB, absent when the process is gone.
    std::optional<long> residentKb() const;
    // A readable account of how it ended ("exit status 2", "killed by signal 11 (core)").
    std::string howItEnded() const;

private:
    XSession& session_;
    std::string binary_;
    std::string configHome_;
    std::string stderrFile_;
    pid_t pid_ = -1;
    std::optional<int> status_;
};

// Root children that carry the overlay marker, bottom to top.
std::vector<xcb_window_t> overlayWindows(xcb_connection_t* c);
// Those of them that are mapped.
std::vector<xcb_window_t> mappedOverlays(xcb_connection_t* c);

std::string readFile(const std::string& path);
bool writeFile(const std::string& path, const std::string& contents);
// A fresh private directory under /tmp, removed by the caller with removeTree.
std::string makeTempDir(const std::string& prefix);
void removeTree(const std::string& path);

}  // namespace sombrix::test

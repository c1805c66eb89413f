// The engine's account of what it decided and why, for the diagnostic log: one line per display
// when its outcome changes (the window that stays bright, the action, the reason), and one line
// for a decision about every display. An outcome repeated at every refresh is written once, so
// the log reads as a story of changes rather than a ticker.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "platform/diagnostic_log.h"
#include "platform/geometry.h"

namespace sombrix {

class DecisionLog {
public:
    explicit DecisionLog(DiagnosticLog* log) : log_(log) {}

    // Whether anything is written; callers skip their formatting otherwise.
    bool enabled() const { return log_ != nullptr && log_->enabled(); }

    // The outcome for the display the overlay `overlay` covers. A restack is always written, so
    // that every restack shows; anything else only when it differs from the last one.
    void display(std::uint32_t overlay, const Rect& frame, std::string_view outcome,
                 bool restacked);
    // A decision about every display ("no window manager: stopped").
    void everyDisplay(std::string_view decision);

    // "0x1a00003", the way xprop and xwininfo name windows.
    static std::string window(std::uint32_t id);

private:
    DiagnosticLog* log_;
    std::map<std::uint32_t, std::string> last_;
    std::string lastEveryDisplay_;
};

}  // namespace sombrix

// Formats and de-duplicates the engine's decision lines.
#include "engine/decision_log.h"

#include <cmath>
#include <cstdio>

namespace sombrix {
namespace {

std::string number(double value) {
    return std::to_string(std::lround(value));
}

}  // namespace

void DecisionLog::display(std::uint32_t overlay, const Rect& frame, std::string_view outcome,
                          bool restacked) {
    if (!enabled()) {
        return;
    }
    std::string& last = last_[overlay];
    if (!restacked && last == outcome) {
        return;
    }
    last = outcome;
    lastEveryDisplay_.clear();
    log_->write("display " + number(frame.width) + "x" + number(frame.height) + "+" +
                number(frame.x) + "+" + number(frame.y) + ": " + std::string(outcome));
}

void DecisionLog::everyDisplay(std::string_view decision) {
    if (!enabled() || lastEveryDisplay_ == decision) {
        return;
    }
    lastEveryDisplay_ = decision;
    // After a decision for every display, each display's next outcome is news again.
    last_.clear();
    log_->write("every display: " + std::string(decision));
}

std::string DecisionLog::window(std::uint32_t id) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", unsigned(id));
    return text;
}

}  // namespace sombrix

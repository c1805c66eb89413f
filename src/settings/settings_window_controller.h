// Owns the one settings window: shows it on demand, keeps the model's sync running only while
// it is open, and tells the application when the window gains focus or closes.
#pragma once

#include <QWidget>
#include <functional>

namespace sombrix {

class SettingsModel;
class SettingsView;

// The top-level window: closable only, sized by its content.
class SettingsWindow : public QWidget {
    Q_OBJECT
public:
    SettingsWindow();
    std::function<void()> onBecomeKey;
    std::function<void()> onWillClose;

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
};

class SettingsWindowController {
public:
    // `onFocusChange` runs when the window becomes active and, deferred, after it closed.
    SettingsWindowController(SettingsModel& model, std::function<void()> onFocusChange);
    ~SettingsWindowController();
    SettingsWindowController(const SettingsWindowController&) = delete;
    SettingsWindowController& operator=(const SettingsWindowController&) = delete;

    // Synchronises the model, centres the window only when it is not already on screen, and
    // brings it to the front with focus.
    void show();
    QWidget* window();
    SettingsView* view() { return view_; }

private:
    void windowDidBecomeKey();
    void windowWillClose();

    SettingsModel& model_;
    std::function<void()> onFocusChange_;
    SettingsWindow* window_;
    SettingsView* view_;
};

}  // namespace sombrix

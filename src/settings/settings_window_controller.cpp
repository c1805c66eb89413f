// The settings window and its controller.
#include "settings/settings_window_controller.h"

#include <QCloseEvent>
#include <QEvent>
#include <QGuiApplication>
#include <QMetaObject>
#include <QScreen>
#include <QShortcut>
#include <QVBoxLayout>

#include "settings/settings_model.h"
#include "settings/settings_view.h"

namespace sombrix {

SettingsWindow::SettingsWindow()
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
    setWindowTitle(tr("Sombrix Settings"));
    // Closing hides the window; the same one comes back at the next show().
    setAttribute(Qt::WA_DeleteOnClose, false);
    setAttribute(Qt::WA_QuitOnClose, false);
    auto* closeShortcut = new QShortcut(QKeySequence::Close, this);
    connect(closeShortcut, &QShortcut::activated, this, &QWidget::close);
}

bool SettingsWindow::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate && onBecomeKey) {
        onBecomeKey();
    }
    return QWidget::event(event);
}

void SettingsWindow::closeEvent(QCloseEvent* event) {
    if (onWillClose) {
        onWillClose();
    }
    QWidget::closeEvent(event);
}

SettingsWindowController::SettingsWindowController(SettingsModel& model,
                                                   std::function<void()> onFocusChange)
    : model_(model), onFocusChange_(std::move(onFocusChange)), window_(new SettingsWindow) {
    view_ = new SettingsView(model_, window_);
    auto* layout = new QVBoxLayout(window_);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view_);
    // The window takes exactly the form's size and cannot be resized by the user.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    window_->onBecomeKey = [this] { windowDidBecomeKey(); };
    window_->onWillClose = [this] { windowWillClose(); };
}

SettingsWindowController::~SettingsWindowController() {
    delete window_;
}

QWidget* SettingsWindowController::window() {
    return window_;
}

void SettingsWindowController::show() {
    model_.startSyncing();
    if (!window_->isVisible()) {
        window_->adjustSize();
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame = window_->frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            window_->move(frame.topLeft());
        }
    }
    window_->show();
    window_->raise();
    window_->activateWindow();
    if (onFocusChange_) {
        onFocusChange_();
    }
}

void SettingsWindowController::windowDidBecomeKey() {
    if (onFocusChange_) {
        onFocusChange_();
    }
}

void SettingsWindowController::windowWillClose() {
    model_.stopSyncing();
    // After the close handling has returned, so that the engine sees the window gone.
    QMetaObject::invokeMethod(
        window_,
        [this] {
            if (onFocusChange_) {
                onFocusChange_();
            }
        },
        Qt::QueuedConnection);
}

}  // namespace sombrix

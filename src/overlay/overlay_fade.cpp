// Compositor check and the opacity animation of an overlay.
#include "overlay/overlay_fade.h"

#include <QWidget>
#include <cmath>
#include <string>

#include "platform/x11/x11_reply.h"

namespace sombrix {

using x11::own;

bool compositingManagerRunning(xcb_connection_t* c, xcb_window_t window) {
    if (!c)
        return false;
    // The selection is per screen: find the number of the screen whose root holds the window.
    int screen = 0;
    if (window) {
        if (const auto tree = own(xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr))) {
            int index = 0;
            for (auto it = xcb_setup_roots_iterator(xcb_get_setup(c)); it.rem;
                 xcb_screen_next(&it), ++index) {
                if (it.data->root == tree->root)
                    screen = index;
            }
        }
    }
    const std::string name = "_NET_WM_CM_S" + std::to_string(screen);
    const auto atom = own(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 1, static_cast<std::uint16_t>(name.size()), name.c_str()), nullptr));
    if (!atom || atom->atom == XCB_ATOM_NONE)
        return false;  // nobody ever asked for the name, so nobody owns it
    const auto owner =
        own(xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom->atom), nullptr));
    return owner && owner->owner != XCB_NONE;
}

OverlayFade::OverlayFade(QWidget& window, xcb_connection_t* connection)
    : window_(window), connection_(connection) {}

OverlayFade::~OverlayFade() {
    stop();
}

bool OverlayFade::start(double from, double to, double seconds, std::function<void()> finished) {
    stop();
    if (!compositingManagerRunning(connection_, static_cast<xcb_window_t>(window_.winId())))
        return false;
    auto* animation = new QVariantAnimation(&window_);
    animation->setStartValue(from);
    animation->setEndValue(to);
    animation->setDuration(static_cast<int>(std::lround(seconds * 1000)));
    QObject::connect(animation, &QVariantAnimation::valueChanged, &window_,
                     [this](const QVariant& value) { window_.setWindowOpacity(value.toDouble()); });
    QObject::connect(animation, &QVariantAnimation::finished, &window_,
                     [this, finished = std::move(finished)] {
                         // The last step may fall short of the end value.
                         window_.setWindowOpacity(animation_->endValue().toDouble());
                         animation_->deleteLater();
                         animation_ = nullptr;
                         if (finished)
                             finished();
                     });
    animation_ = animation;
    window_.setWindowOpacity(from);
    animation->start();
    return true;
}

void OverlayFade::stop() {
    if (!animation_)
        return;
    animation_->stop();
    delete animation_;
    animation_ = nullptr;
}

}  // namespace sombrix

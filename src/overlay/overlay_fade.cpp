// The opacity animation of an overlay.
#include "overlay/overlay_fade.h"

#include <QWidget>
#include <cmath>

namespace sombrix {

OverlayFade::~OverlayFade() {
    stop();
}

void OverlayFade::start(double from, double to, double seconds, std::function<void()> finished) {
    stop();
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
}

void OverlayFade::stop() {
    if (!animation_)
        return;
    animation_->stop();
    delete animation_;
    animation_ = nullptr;
}

}  // namespace sombrix

// Displays from the X server's monitors, in root pixels. The visible frame is computed from the
// docks' struts: with more than one screen Qt reports the available geometry without panels.
#pragma once

#include <QObject>
#include <functional>
#include <map>
#include <vector>

#include "platform/displays.h"
#include "platform/x11/x11_context.h"
#include "platform/x11/x11_properties.h"

class QScreen;

namespace sombrix::x11 {

// The display's frame less every band a strut reserves on it. A strut belongs to a display
// when its band overlaps it; `root` is the size of the whole X screen (struts are measured from
// its edges).
Rect visibleFrameFor(const Rect& display, const Size& root, const std::vector<Strut>& struts);

class X11Displays : public QObject, public Displays {
public:
    explicit X11Displays(X11Context& context);
    ~X11Displays() override;

    std::vector<Display> screens() override;
    ObserverToken addScreenParametersObserver(std::function<void()> handler) override;
    void removeObserver(ObserverToken token) override;

private:
    void watch(QScreen* screen);
    void notify();
    std::vector<Strut> struts();

    X11Context& ctx_;
    std::map<ObserverToken, std::function<void()>> observers_;
    ObserverToken nextToken_ = 1;
};

}  // namespace sombrix::x11

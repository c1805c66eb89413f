// The overlay of one display on X11: an override-redirect, click-through window that the X
// server stacks directly beneath the window that stays bright.
#pragma once

#include <xcb/xcb.h>

#include <QImage>
#include <QWidget>
#include <functional>
#include <string>

#include "overlay/overlay_fade.h"
#include "platform/overlay.h"
#include "platform/wallpaper_service.h"
#include "platform/x11/x11_stacking.h"

namespace sombrix {

// What every overlay shares; owned by the factory, outlives the overlays.
struct OverlayEnvironment {
    xcb_connection_t* connection = nullptr;
    x11::X11Stacking& stacking;
    WallpaperService& wallpaper;
    // Where the capture worker connects (empty: $DISPLAY).
    std::string captureDisplay;
    // Told when an overlay's X window appears and goes away, so the window list can show it as
    // one of ours at its true stacking place.
    std::function<void(xcb_window_t)> overlayCreated;
    std::function<void(xcb_window_t)> overlayDestroyed;
};

// The X property every overlay window carries (CARDINAL 1), for tools and other clients.
inline constexpr char kOverlayAtomName[] = "_SOMBRIX_OVERLAY";

class OverlayWindow final : public QWidget, public Overlay {
public:
    OverlayWindow(const Display& display, OverlayEnvironment& environment);
    ~OverlayWindow() override;

    std::uint32_t windowNumber() const override { return windowNumber_; }
    Rect cgFrame() const override { return cgFrame_; }
    bool isVisible() const override { return QWidget::isVisible(); }

    void orderBelow(std::uint32_t windowNumber) override;
    void orderFrontRegardless() override;
    void orderAbove(std::uint32_t windowNumber) override;
    void orderOut() override;
    void setHoles(std::vector<Rect> holes) override;

    void apply(Style style, double strength) override;
    void captureWallpaper() override;
    void fadeIn(double seconds) override;
    void fadeOut(double seconds, std::function<void()> done) override;

    // The picture shown in the wallpaper look; empty until the first capture lands.
    bool hasPicture() const { return !picture_.isNull(); }
    void setPicture(const QImage& picture);
    // Shape requests sent so far: a steady desktop should add none.
    std::uint64_t shapeRequests() const { return shapeRequests_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    void adoptWindowNumber();
    void paintBlackByServer();
    // One ConfigureWindow for the stacking place, then a map when hidden: restacking first means
    // the overlay never shows, even for a moment, at the top where X would map it.
    void restack(std::optional<xcb_window_t> sibling, std::uint32_t mode);
    // The overlay's rectangle in root pixels, and the same in Qt's scaled units.
    QRect nativeGeometry() const;
    QRect logicalGeometry() const;
    // Sets the root-pixel rectangle on the X window itself.
    void placeNatively();
    // The bounding shape: the window less the holes (none: the plain rectangle again). The input
    // shape stays empty, so clicks pass everywhere, holes or not.
    void applyShape();
    void flush();

    OverlayEnvironment& env_;
    Display display_;
    Rect cgFrame_;
    // The band at the top of the display that the overlay leaves uncovered (panels up there
    // stay bright); the picture is drawn shifted up by it.
    double topBand_ = 0;
    std::uint32_t windowNumber_ = 0;
    bool showPicture_ = false;
    // False once the black look is applied: its pictures are dropped, also one landing later.
    bool keepPicture_ = true;
    QImage picture_;
    // The opacity of the look last applied: where a fade-in ends.
    double appliedOpacity_ = 1.0;
    OverlayFade fade_;
    std::vector<Rect> holes_;
    std::uint64_t shapeRequests_ = 0;
};

}  // namespace sombrix

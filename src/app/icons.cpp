// Paints the shipped SVG symbols into pixmaps of a single colour.
#include "app/icons.h"

#include <QGuiApplication>
#include <QIconEngine>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QString>
#include <QSvgRenderer>
#include <algorithm>

namespace sombrix {
namespace {

// Tray hosts ask for 16 to 24 pixels, menus for 14 to 16 (doubled on high-density screens).
constexpr int kSizes[] = {14, 16, 22, 24, 28, 32, 44, 48, 64};

QString resourcePath(std::string_view name) {
    return QStringLiteral(":/icons/") + QString::fromUtf8(name.data(), qsizetype(name.size())) +
           QStringLiteral(".svg");
}

QPixmap paintGlyph(QSvgRenderer& renderer, int size, const QColor& colour) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(0, 0, size, size));
    // Keep the glyph's coverage, replace its colour.
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(image.rect(), colour);
    painter.end();
    return QPixmap::fromImage(image);
}

// Tray symbols painted on demand at whatever size the tray asks, outlined so that they read on any
// panel, and named after their installed themed variant.
class TraySymbolEngine final : public QIconEngine {
public:
    TraySymbolEngine(QString resource, QString themeName)
        : resource_(std::move(resource)), themeName_(std::move(themeName)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
               QIcon::State state) override {
        painter->drawPixmap(rect, pixmap(rect.size(), mode, state));
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode, QIcon::State) override {
        const int side = std::min(size.width(), size.height());
        QSvgRenderer renderer(resource_);
        if (side <= 0 || !renderer.isValid()) {
            return {};
        }
        // The outline is about a twentieth of the icon, at least one pixel; the glyph shrinks
        // by as much so that the outline stays inside.
        const int halo = std::max(1, side / 20);
        const int inner = side - 2 * halo;
        const QPixmap dark = paintGlyph(renderer, inner, QColor(20, 20, 20, 230));
        const QPixmap light = paintGlyph(renderer, inner, QColor(245, 245, 245));
        QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        for (int dy = -halo; dy <= halo; ++dy) {
            for (int dx = -halo; dx <= halo; ++dx) {
                painter.drawPixmap(halo + dx, halo + dy, dark);
            }
        }
        painter.drawPixmap(halo, halo, light);
        painter.end();
        return QPixmap::fromImage(image);
    }

    QIconEngine* clone() const override { return new TraySymbolEngine(resource_, themeName_); }
    QString iconName() override { return themeName_; }
    QString key() const override { return QStringLiteral("sombrix-tray"); }

private:
    QString resource_;
    QString themeName_;
};

QString themedTrayName(std::string_view name) {
    if (name == "circle.lefthalf.filled") {
        return QStringLiteral("sombrix-dimming-symbolic");
    }
    if (name == "circle") {
        return QStringLiteral("sombrix-off-symbolic");
    }
    if (name == "exclamationmark.triangle.fill") {
        return QStringLiteral("sombrix-warning-symbolic");
    }
    return {};
}

}  // namespace

QIcon traySymbolIcon(std::string_view name) {
    if (!QSvgRenderer(resourcePath(name)).isValid()) {
        return {};
    }
    // A name the theme cannot resolve would leave a panel that prefers names with no icon.
    QString themed = themedTrayName(name);
    if (!QIcon::hasThemeIcon(themed)) {
        themed.clear();
    }
    return QIcon(new TraySymbolEngine(resourcePath(name), themed));
}

QIcon symbolIcon(std::string_view name, const QColor& colour) {
    QSvgRenderer renderer(resourcePath(name));
    if (!renderer.isValid()) {
        return {};
    }
    QIcon icon;
    for (int size : kSizes) {
        icon.addPixmap(paintGlyph(renderer, size, colour));
    }
    icon.setIsMask(true);
    return icon;
}

QIcon templateSymbolIcon(std::string_view name) {
    QSvgRenderer renderer(resourcePath(name));
    if (!renderer.isValid()) {
        return {};
    }
    const QPalette palette = QGuiApplication::palette();
    QIcon icon;
    for (int size : kSizes) {
        icon.addPixmap(paintGlyph(renderer, size, palette.color(QPalette::WindowText)),
                       QIcon::Normal);
        icon.addPixmap(paintGlyph(renderer, size, palette.color(QPalette::HighlightedText)),
                       QIcon::Active);
        icon.addPixmap(paintGlyph(renderer, size, palette.color(QPalette::HighlightedText)),
                       QIcon::Selected);
    }
    icon.setIsMask(true);
    return icon;
}

QIcon applicationIcon() {
    return QIcon(QStringLiteral(":/icons/sombrix.svg"));
}

}  // namespace sombrix

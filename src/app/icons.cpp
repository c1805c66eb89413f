// Paints the shipped SVG symbols into pixmaps of a single colour.
#include "app/icons.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QString>
#include <QSvgRenderer>

namespace sombrix {
namespace {

// Tray hosts ask for 16 to 24 pixels, menus for 14 to 16 (doubled on high-density screens).
constexpr int kSizes[] = {14, 16, 22, 24, 28, 32, 44, 48, 64};

QString resourcePath(std::string_view name) {
    return QStringLiteral(":/icons/") + QString::fromUtf8(name.data(), qsizetype(name.size())) +
           QStringLiteral(".svg");
}

QPixmap paint(QSvgRenderer& renderer, int size, const QColor& colour) {
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

}  // namespace

QIcon symbolIcon(std::string_view name, const QColor& colour) {
    QSvgRenderer renderer(resourcePath(name));
    if (!renderer.isValid()) {
        return {};
    }
    QIcon icon;
    for (int size : kSizes) {
        icon.addPixmap(paint(renderer, size, colour));
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
        icon.addPixmap(paint(renderer, size, palette.color(QPalette::WindowText)), QIcon::Normal);
        icon.addPixmap(paint(renderer, size, palette.color(QPalette::HighlightedText)),
                       QIcon::Active);
        icon.addPixmap(paint(renderer, size, palette.color(QPalette::HighlightedText)),
                       QIcon::Selected);
    }
    icon.setIsMask(true);
    return icon;
}

QIcon applicationIcon() {
    return QIcon(QStringLiteral(":/icons/sombrix.svg"));
}

}  // namespace sombrix

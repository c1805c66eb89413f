// Reading an RSS appcast: one <item> per release, its version, release notes and download link.
#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <variant>
#include <vector>

namespace sombrix::updater {

inline constexpr char kSparkleNamespace[] = "http://www.andymatuschak.org/xml-namespaces/sparkle";

struct AppcastItem {
    QString title;
    // The version users see (shortVersionString), else the machine version; empty when the
    // item names neither.
    QString version;
    QString releaseNotes;
    // The enclosure's url, else the item's <link>; empty when neither parses.
    QUrl downloadUrl;
};

// The items of the feed, or a sentence that says what is wrong with it. Documents with a
// document type declaration are refused (no entity tricks), as are deep nesting, oversized
// fields and anything that is not well-formed XML with an <rss> root.
std::variant<std::vector<AppcastItem>, QString> parseAppcast(const QByteArray& document);

}  // namespace sombrix::updater

// Appcast parsing with QXmlStreamReader, which never loads external entities; we also refuse
// any DTD so that internal entity expansion cannot happen either.
#include "updater/appcast.h"

#include <QCoreApplication>
#include <QXmlStreamReader>

namespace sombrix::updater {

namespace {

constexpr int kMaxDepth = 32;
constexpr int kMaxItems = 500;
constexpr qsizetype kMaxShortField = 2048;
constexpr qsizetype kMaxReleaseNotes = 256 * 1024;

bool isSparkle(const QXmlStreamReader& xml) {
    return xml.namespaceUri() == QLatin1String(kSparkleNamespace);
}

class Parser {
public:
    explicit Parser(const QByteArray& document) : xml_(document) {}

    std::variant<std::vector<AppcastItem>, QString> run() {
        bool sawRoot = false;
        while (!xml_.atEnd()) {
            const auto token = xml_.readNext();
            if (token == QXmlStreamReader::DTD) {
                return QCoreApplication::translate(
                    "Appcast",
                    "The update feed contains a document type declaration, "
                    "which is not accepted.");
            }
            if (token == QXmlStreamReader::StartElement) {
                if (!sawRoot) {
                    sawRoot = true;
                    if (xml_.name() != QLatin1String("rss")) {
                        return QCoreApplication::translate("Appcast",
                                                           "The update feed is not an RSS feed.");
                    }
                }
                if (++depth_ > kMaxDepth) {
                    return QCoreApplication::translate("Appcast",
                                                       "The update feed is nested too deeply.");
                }
                if (xml_.name() == QLatin1String("item") && xml_.namespaceUri().isEmpty()) {
                    if (items_.size() >= kMaxItems) {
                        return QCoreApplication::translate(
                            "Appcast", "The update feed lists too many releases.");
                    }
                    // readItem consumes the item's end tag.
                    if (auto error = readItem()) {
                        return *error;
                    }
                }
            } else if (token == QXmlStreamReader::EndElement) {
                --depth_;
            }
        }
        if (xml_.hasError()) {
            return QCoreApplication::translate("Appcast",
                                               "The update feed is not valid XML (line %1: %2).")
                .arg(xml_.lineNumber())
                .arg(xml_.errorString());
        }
        if (!sawRoot) {
            return QCoreApplication::translate("Appcast", "The update feed is empty.");
        }
        return std::move(items_);
    }

private:
    // Reads the item's fields up to its end tag; unknown children are skipped.
    std::optional<QString> readItem() {
        AppcastItem item;
        QString shortVersion;
        QString machineVersion;
        QString link;
        QString enclosureUrl;
        const int itemDepth = depth_;
        while (!xml_.atEnd()) {
            const auto token = xml_.readNext();
            if (token == QXmlStreamReader::EndElement) {
                if (--depth_ < itemDepth) {
                    break;
                }
                continue;
            }
            if (token != QXmlStreamReader::StartElement) {
                continue;
            }
            if (++depth_ > kMaxDepth) {
                return QCoreApplication::translate("Appcast",
                                                   "The update feed is nested too deeply.");
            }
            if (depth_ != itemDepth + 1) {
                continue;
            }
            const QStringView name = xml_.name();
            if (name == QLatin1String("enclosure") && xml_.namespaceUri().isEmpty()) {
                const auto attrs = xml_.attributes();
                enclosureUrl = attrs.value(QLatin1String("url")).toString();
                const auto sv = attrs.value(QLatin1String(kSparkleNamespace),
                                            QLatin1String("shortVersionString"));
                const auto v =
                    attrs.value(QLatin1String(kSparkleNamespace), QLatin1String("version"));
                if (!sv.isEmpty()) {
                    shortVersion = sv.toString();
                }
                if (!v.isEmpty()) {
                    machineVersion = v.toString();
                }
                continue;
            }
            QString* target = nullptr;
            qsizetype limit = kMaxShortField;
            if (isSparkle(xml_) && name == QLatin1String("shortVersionString")) {
                target = &shortVersion;
            } else if (isSparkle(xml_) && name == QLatin1String("version")) {
                target = &machineVersion;
            } else if (xml_.namespaceUri().isEmpty() && name == QLatin1String("title")) {
                target = &item.title;
            } else if (xml_.namespaceUri().isEmpty() && name == QLatin1String("link")) {
                target = &link;
            } else if (xml_.namespaceUri().isEmpty() && name == QLatin1String("description")) {
                target = &item.releaseNotes;
                limit = kMaxReleaseNotes;
            }
            if (!target) {
                continue;
            }
            // Release notes may hold markup; IncludeChildElements keeps its text.
            *target = xml_.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
            --depth_;  // readElementText consumed the end tag
            if (xml_.hasError()) {
                break;
            }
            if (target->size() > limit) {
                return QCoreApplication::translate(
                    "Appcast", "The update feed holds a field that is too long.");
            }
        }
        if (xml_.hasError()) {
            return std::nullopt;  // reported by run()
        }
        item.version = shortVersion.isEmpty() ? machineVersion : shortVersion;
        const QString url = enclosureUrl.isEmpty() ? link : enclosureUrl;
        item.downloadUrl = QUrl(url.trimmed(), QUrl::StrictMode);
        items_.push_back(std::move(item));
        return std::nullopt;
    }

    QXmlStreamReader xml_;
    int depth_ = 0;
    std::vector<AppcastItem> items_;
};

}  // namespace

std::variant<std::vector<AppcastItem>, QString> parseAppcast(const QByteArray& document) {
    if (document.trimmed().isEmpty()) {
        return QCoreApplication::translate("Appcast", "The update feed is empty.");
    }
    return Parser(document).run();
}

}  // namespace sombrix::updater

// The update feed comes from the network: any bytes must yield either releases or an error
// sentence, never a crash, and within a bound on time and memory (libFuzzer's -timeout and
// -rss_limit_mb enforce those). The corpus holds the hostile feeds: entity expansion, external
// entities, deep nesting, overlong fields.
#include <QByteArray>

#include "fuzz_input.h"
#include "fuzz_targets.h"
#include "updater/appcast.h"

namespace sombrix::fuzz::appcast {

int fuzzOne(const std::uint8_t* data, std::size_t size) {
    const QByteArray document(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const auto result = updater::parseAppcast(document);
    // A document type declaration could define entities that expand without bound or read
    // local files: a feed that starts with one is refused, whatever follows.
    QByteArray start = document.trimmed();
    if (start.startsWith("<?xml"))
        start = start.mid(start.indexOf("?>") + 2).trimmed();
    check(!start.startsWith("<!DOCTYPE") || std::holds_alternative<QString>(result),
          "a feed with a document type declaration was read");
    if (const auto* error = std::get_if<QString>(&result)) {
        check(!error->isEmpty(), "a refused feed without a reason");
        return 0;
    }
    const auto& items = std::get<std::vector<updater::AppcastItem>>(result);
    check(items.size() <= 500, "more releases than the feed may list");
    for (const auto& item : items) {
        check(item.title.size() <= 2048 && item.version.size() <= 2048,
              "a title or version longer than the feed may hold");
        check(item.releaseNotes.size() <= 256 * 1024, "release notes longer than allowed");
    }
    return 0;
}

}  // namespace sombrix::fuzz::appcast

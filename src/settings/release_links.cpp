// Which release addresses are real, and where the documentation opens without one.
#include "settings/release_links.h"

#include <QFileInfo>
#include <QString>
#include <QUrl>

#include "settings/build_info.h"

namespace sombrix {

ReleaseLinks ReleaseLinks::fromBuild() {
    return {buildinfo::kAppcastUrl, buildinfo::kWebsiteUrl, buildinfo::kCreditUrl,
            buildinfo::kDocsUrl};
}

bool ReleaseLinks::isConfigured(std::string_view url) {
    const QUrl parsed(QString::fromUtf8(url.data(), static_cast<qsizetype>(url.size())));
    // ".invalid" never resolves: it is what a build configured with placeholders carries.
    return parsed.isValid() && !parsed.host().isEmpty() &&
           !parsed.host().endsWith(QLatin1String(".invalid"), Qt::CaseInsensitive) &&
           parsed.host().compare(QLatin1String("invalid"), Qt::CaseInsensitive) != 0;
}

std::string ReleaseLinks::documentation() const {
    if (isConfigured(docs))
        return docs;
    const QString readme = QString::fromUtf8(buildinfo::kInstalledReadme);
    if (QFileInfo(readme).isFile()) {
        QUrl url = QUrl::fromLocalFile(readme);
        url.setFragment(QStringLiteral("permissions"));
        return url.toString().toStdString();
    }
    return "man:sombrix(1)";
}

}  // namespace sombrix

// The appcast updater: fetching with limits, deciding, scheduling and presenting.
#include "updater/appcast_updater.h"

#include "platform/qt/logging.h"

#include <QDateTime>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "updater/appcast.h"
#include "updater/update_window.h"
#include "updater/version_compare.h"

namespace sombrix {

using updater::UpdateCheckResult;

namespace {

const QString kAutomaticChecksKey = QStringLiteral("updater/automaticChecks");
const QString kLastCheckKey = QStringLiteral("updater/lastCheck");

TimePoint nowSeconds() {
    return QDateTime::currentMSecsSinceEpoch() / 1000.0;
}

UpdateCheckResult failure(QString message) {
    UpdateCheckResult r;
    r.kind = UpdateCheckResult::Kind::error;
    r.error = std::move(message);
    return r;
}

QString sizeText(qint64 bytes) {
    if (bytes % (1024 * 1024) == 0) {
        return AppcastUpdater::tr("%1 MiB").arg(bytes / (1024 * 1024));
    }
    return AppcastUpdater::tr("%1 KiB").arg(bytes / 1024);
}

}  // namespace

AppcastUpdater::AppcastUpdater(QUrl feedUrl, UpdaterUserDriverDelegate* userDriver,
                               QSettings& settings, Options options, QObject* parent)
    : QObject(parent),
      feedUrl_(std::move(feedUrl)),
      userDriver_(userDriver),
      settings_(settings),
      options_(std::move(options)) {
    if (options_.currentVersion.isEmpty()) {
        options_.currentVersion = QStringLiteral(SOMBRIX_UPDATER_BUILD_VERSION);
    }
    deadline_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, this, [this] {
        abortWith(tr("The update server did not answer within %1 seconds.")
                      .arg(options_.timeoutMs / 1000.0));
    });
    scheduleTimer_.setSingleShot(true);
    connect(&scheduleTimer_, &QTimer::timeout, this, [this] {
        if (!reply_) {
            beginCheck();
        }
    });
    // Never follow a redirect from https to http.
    network_.setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
}

AppcastUpdater::~AppcastUpdater() {
    if (reply_) {
        reply_->disconnect(this);
        reply_->abort();
        delete reply_;
    }
    delete window_;
}

bool AppcastUpdater::isAcceptableUrl(const QUrl& url) const {
    if (!url.isValid() || url.host().isEmpty()) {
        return false;
    }
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("https")) {
        return true;
    }
    const QString host = url.host().toLower();
    return options_.allowLoopbackHttp && scheme == QLatin1String("http") &&
           (host == QLatin1String("127.0.0.1") || host == QLatin1String("localhost"));
}

void AppcastUpdater::start() {
    started_ = true;
    scheduleNextCheck();
}

bool AppcastUpdater::automaticallyChecksForUpdates() const {
    const QVariant v = settings_.value(kAutomaticChecksKey);
    if (!v.isValid()) {
        return options_.automaticChecksByDefault;
    }
    // QSettings' native format hands back text for booleans written in an earlier run.
    const QString text = v.toString().toLower();
    if (text == QLatin1String("true") || text == QLatin1String("1")) {
        return true;
    }
    if (text == QLatin1String("false") || text == QLatin1String("0")) {
        return false;
    }
    return options_.automaticChecksByDefault;
}

void AppcastUpdater::setAutomaticallyChecksForUpdates(bool enabled) {
    settings_.setValue(kAutomaticChecksKey, enabled);
    settings_.sync();
    scheduleNextCheck();
}

std::optional<TimePoint> AppcastUpdater::lastUpdateCheckDate() const {
    const QVariant v = settings_.value(kLastCheckKey);
    if (!v.isValid()) {
        return std::nullopt;
    }
    bool ok = false;
    const double seconds = v.toString().toDouble(&ok);
    if (!ok || !std::isfinite(seconds)) {
        return std::nullopt;
    }
    return seconds;
}

void AppcastUpdater::scheduleNextCheck() {
    scheduleTimer_.stop();
    if (!started_ || !automaticallyChecksForUpdates()) {
        return;
    }
    const TimePoint now = nowSeconds();
    std::optional<TimePoint> previous = lastUpdateCheckDate();
    if (lastAttempt_ && (!previous || *lastAttempt_ > *previous)) {
        previous = lastAttempt_;
    }
    double delaySeconds = previous ? *previous + options_.checkIntervalSeconds - now : 0.0;
    // A clock set back (a last check "in the future") must not postpone checks for longer than
    // one interval.
    delaySeconds = std::clamp(delaySeconds, 0.0, double(options_.checkIntervalSeconds));
    const qint64 delayMs =
        std::max<qint64>(options_.minimumScheduleDelayMs, qint64(delaySeconds * 1000.0));
    scheduleTimer_.start(int(std::min<qint64>(delayMs, std::numeric_limits<int>::max())));
}

void AppcastUpdater::checkForUpdates() {
    userInitiated_ = true;
    // The user sees at once that something happens; the answer replaces this state.
    windowForUser().showChecking();
    if (!reply_) {
        beginCheck();
    }
}

void AppcastUpdater::beginCheck() {
    qCDebug(lcUpdater) << "checking" << feedUrl_.toString();
    scheduleTimer_.stop();
    lastAttempt_ = nowSeconds();
    if (!isAcceptableUrl(feedUrl_)) {
        // Reported from the event loop so that checkForUpdates() always returns first.
        QTimer::singleShot(0, this, [this] {
            finish(
                failure(tr("The update feed address is not a secure (https) "
                           "address.")));
        });
        return;
    }
    body_.clear();
    abortReason_.clear();
    QNetworkRequest request(feedUrl_);
    request.setMaximumRedirectsAllowed(5);
    request.setTransferTimeout(options_.timeoutMs);
    request.setHeader(QNetworkRequest::UserAgentHeader,
                      QStringLiteral("Sombrix/%1").arg(options_.currentVersion));
    reply_ = network_.get(request);
    connect(reply_, &QNetworkReply::metaDataChanged, this, [this] {
        const QVariant length = reply_->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > options_.maxFeedBytes) {
            abortWith(
                tr("The update feed is larger than %1.").arg(sizeText(options_.maxFeedBytes)));
        }
    });
    connect(reply_, &QNetworkReply::redirected, this, [this](const QUrl& url) {
        if (!isAcceptableUrl(url)) {
            abortWith(
                tr("The update server redirected to an address that is not "
                   "secure."));
        }
    });
    connect(reply_, &QNetworkReply::readyRead, this, &AppcastUpdater::onReadyRead);
    connect(reply_, &QNetworkReply::finished, this, &AppcastUpdater::onFinished);
    // The transfer timeout only notices silence; a server that drips bytes is cut off here.
    deadline_.start(options_.timeoutMs);
}

void AppcastUpdater::onReadyRead() {
    if (!reply_ || !abortReason_.isEmpty()) {
        return;
    }
    const qint64 room = options_.maxFeedBytes - body_.size();
    body_ += reply_->read(room + 1);
    if (body_.size() > options_.maxFeedBytes) {
        abortWith(tr("The update feed is larger than %1.").arg(sizeText(options_.maxFeedBytes)));
    }
}

void AppcastUpdater::abortWith(const QString& reason) {
    if (!reply_ || !abortReason_.isEmpty()) {
        return;
    }
    abortReason_ = reason;
    reply_->abort();  // emits finished
}

void AppcastUpdater::onFinished() {
    deadline_.stop();
    QNetworkReply* reply = reply_;
    reply_ = nullptr;
    if (!reply) {
        return;
    }
    reply->deleteLater();
    if (!abortReason_.isEmpty()) {
        finish(failure(abortReason_));
        return;
    }
    if (reply->error() == QNetworkReply::OperationCanceledError) {
        finish(failure(tr("The update server did not answer within %1 seconds.")
                           .arg(options_.timeoutMs / 1000.0)));
        return;
    }
    if (reply->error() != QNetworkReply::NoError) {
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (status >= 400) {
            finish(failure(tr("The update server answered with HTTP status %1.").arg(status)));
        } else {
            finish(failure(
                tr("The update server could not be reached: %1.").arg(reply->errorString())));
        }
        return;
    }
    onReadyRead();
    if (!abortReason_.isEmpty()) {
        finish(failure(abortReason_));
        return;
    }
    finish(evaluate(body_));
}

UpdateCheckResult AppcastUpdater::evaluate(const QByteArray& document) const {
    auto parsed = updater::parseAppcast(document);
    if (auto* error = std::get_if<QString>(&parsed)) {
        return failure(*error);
    }
    const auto& items = std::get<std::vector<updater::AppcastItem>>(parsed);
    const updater::AppcastItem* newest = nullptr;
    for (const auto& item : items) {
        if (item.version.isEmpty()) {
            continue;
        }
        if (!newest || updater::compareVersions(item.version, newest->version) > 0) {
            newest = &item;
        }
    }
    if (!newest) {
        return failure(tr("The update feed lists no version."));
    }
    UpdateCheckResult result;
    result.version = newest->version;
    if (updater::compareVersions(newest->version, options_.currentVersion) <= 0) {
        result.kind = UpdateCheckResult::Kind::upToDate;
        return result;
    }
    if (!isAcceptableUrl(newest->downloadUrl)) {
        return failure(tr("The update feed offers version %1 without a secure "
                          "(https) download address.")
                           .arg(newest->version.left(64)));
    }
    result.kind = UpdateCheckResult::Kind::updateAvailable;
    result.releaseNotes = newest->releaseNotes;
    result.downloadUrl = newest->downloadUrl;
    return result;
}

void AppcastUpdater::finish(Result result) {
    const bool userInitiated = std::exchange(userInitiated_, false);
    qCDebug(lcUpdater) << "check" << (userInitiated ? "asked by the user" : "on schedule")
                       << "ended:"
                       << (result.kind == UpdateCheckResult::Kind::error ? "error"
                           : result.kind == UpdateCheckResult::Kind::updateAvailable
                               ? "update available"
                               : "up to date")
                       << result.version << result.error;
    if (result.kind != UpdateCheckResult::Kind::error) {
        settings_.setValue(kLastCheckKey, QString::number(nowSeconds(), 'f', 3));
        settings_.sync();
    }
    // A scheduled check bothers the user only with news; a check the user asked for always
    // answers.
    if (userInitiated || result.kind == UpdateCheckResult::Kind::updateAvailable) {
        present(result);
    }
    scheduleNextCheck();
    emit checkFinished(result, userInitiated);
}

updater::UpdateWindow& AppcastUpdater::windowForUser() {
    // The application is told once before the window comes up and once after the user dealt
    // with it, however many states the window goes through in between.
    if (!windowAwaitingUser_) {
        windowAwaitingUser_ = true;
        if (userDriver_) {
            userDriver_->standardUserDriverWillHandleShowingUpdate(true);
        }
    }
    if (!window_) {
        window_ = new updater::UpdateWindow;
        connect(window_, &updater::UpdateWindow::dismissed, this, [this] {
            // Cancelling while the check runs: only news would be worth showing after that.
            userInitiated_ = false;
            if (std::exchange(windowAwaitingUser_, false) && userDriver_) {
                userDriver_->standardUserDriverDidReceiveUserAttentionForUpdate();
            }
        });
    }
    return *window_;
}

void AppcastUpdater::present(const Result& result) {
    windowForUser();
    switch (result.kind) {
        case UpdateCheckResult::Kind::upToDate:
            window_->showUpToDate(options_.currentVersion);
            break;
        case UpdateCheckResult::Kind::updateAvailable:
            window_->showUpdate(result.version.left(64), options_.currentVersion,
                                result.releaseNotes, result.downloadUrl);
            break;
        case UpdateCheckResult::Kind::error:
            window_->showError(result.error);
            break;
    }
}

}  // namespace sombrix

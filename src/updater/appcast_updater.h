// Our updater: reads an RSS appcast over HTTPS, compares versions, checks by itself once a day
// when the user allows it, and shows the outcome in its own window. It never downloads or runs
// an installer; the user gets a link to the release.
#pragma once

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QSettings>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <memory>
#include <optional>

#include "platform/updater.h"

namespace sombrix::updater {

class UpdateWindow;

struct UpdateCheckResult {
    enum class Kind { upToDate, updateAvailable, error };
    Kind kind = Kind::error;
    QString version;  // the newest version in the feed
    QString releaseNotes;
    QUrl downloadUrl;
    QString error;
};

struct AppcastUpdaterOptions {
    // The running version, compared with the feed's versions; empty means this build's.
    QString currentVersion;
    int timeoutMs = 15000;
    qint64 maxFeedBytes = 1024 * 1024;
    // For tests only: also accept plain http to 127.0.0.1 / localhost, for the feed and links.
    bool allowLoopbackHttp = false;
    int checkIntervalSeconds = 24 * 60 * 60;
    // A scheduled check never runs sooner than this after start() or after switching checks on.
    int minimumScheduleDelayMs = 60 * 1000;
    // Automatic checks stay off until the user switches them on: no network traffic unasked.
    bool automaticChecksByDefault = false;
};

}  // namespace sombrix::updater

namespace sombrix {

class AppcastUpdater : public QObject, public Updater {
    Q_OBJECT
public:
    using Options = updater::AppcastUpdaterOptions;
    using Result = updater::UpdateCheckResult;

    // Its two settings live in `settings` under "updater/automaticChecks" and
    // "updater/lastCheck"; `settings` and `userDriver` (may be null) must outlive the updater.
    AppcastUpdater(QUrl feedUrl, UpdaterUserDriverDelegate* userDriver, QSettings& settings,
                   Options options = {}, QObject* parent = nullptr);
    ~AppcastUpdater() override;

    // Starts the scheduled checks (when they are switched on).
    void start();

    bool automaticallyChecksForUpdates() const override;
    void setAutomaticallyChecksForUpdates(bool enabled) override;
    std::optional<TimePoint> lastUpdateCheckDate() const override;
    void checkForUpdates() override;

    bool isCheckScheduled() const { return scheduleTimer_.isActive(); }
    // Milliseconds until the next scheduled check; negative when none is scheduled.
    int msUntilScheduledCheck() const { return scheduleTimer_.remainingTime(); }
    // The window last shown, if any (it stays alive hidden after the user closed it).
    updater::UpdateWindow* window() const { return window_; }

    // Whether a feed or download address may be used.
    bool isAcceptableUrl(const QUrl& url) const;

signals:
    void checkFinished(const sombrix::updater::UpdateCheckResult& result, bool userInitiated);

private:
    void scheduleNextCheck();
    void beginCheck();
    void onReadyRead();
    void onFinished();
    void abortWith(const QString& reason);
    void finish(Result result);
    Result evaluate(const QByteArray& document) const;
    void present(const Result& result);
    updater::UpdateWindow& windowForUser();

    QUrl feedUrl_;
    UpdaterUserDriverDelegate* userDriver_;
    QSettings& settings_;
    Options options_;
    QNetworkAccessManager network_;
    QPointer<QNetworkReply> reply_;
    QByteArray body_;
    QString abortReason_;
    QTimer deadline_;
    QTimer scheduleTimer_;
    bool started_ = false;
    bool userInitiated_ = false;
    std::optional<TimePoint> lastAttempt_;
    QPointer<updater::UpdateWindow> window_;
    bool windowAwaitingUser_ = false;
};

}  // namespace sombrix

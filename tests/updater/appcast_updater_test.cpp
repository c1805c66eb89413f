// The updater against a real HTTP server on 127.0.0.1: outcomes, broken feeds (the hostile ones
// are the appcast fuzz target's corpus), unreachable, slow and oversized servers, the https rule,
// persistence and scheduled checks.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <vector>

#include "feed_server.h"
#include "updater/appcast.h"
#include "updater/appcast_updater.h"
#include "updater/update_window.h"

namespace sombrix {
namespace {

using updater::UpdateCheckResult;
using Kind = UpdateCheckResult::Kind;

bool waitFor(const std::function<bool()>& condition, int timeoutMs = 20000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

QByteArray item(const QByteArray& version, const QByteArray& url,
                const QByteArray& notes = "<![CDATA[<ul><li>Faster</li></ul>]]>") {
    return "<item><title>Sombrix " + version + "</title><description>" + notes +
           "</description><enclosure url=\"" + url + "\" sparkle:shortVersionString=\"" + version +
           "\" length=\"1\" type=\"application/octet-stream\"/></item>";
}

QByteArray feed(const QByteArray& items) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
           "<rss version=\"2.0\" "
           "xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\">"
           "<channel><title>Sombrix</title>" +
           items + "</channel></rss>";
}

class RecordingDriver : public UpdaterUserDriverDelegate {
public:
    bool supportsGentleScheduledUpdateReminders() const override { return true; }
    void standardUserDriverWillHandleShowingUpdate(bool) override { calls.push_back("will"); }
    void standardUserDriverDidReceiveUserAttentionForUpdate() override {
        calls.push_back("attention");
    }
    std::vector<std::string> calls;
};

class UpdaterTest : public ::testing::Test {
protected:
    UpdaterTest() : settings(temp.path() + "/updater.conf", QSettings::IniFormat) {}

    AppcastUpdater& make(QUrl url, AppcastUpdater::Options options = {}) {
        if (options.currentVersion.isEmpty()) {
            options.currentVersion = "1.2";
        }
        options.allowLoopbackHttp = allowHttp;
        updater = std::make_unique<AppcastUpdater>(url, &driver, settings, options);
        QObject::connect(updater.get(), &AppcastUpdater::checkFinished,
                         [this](const UpdateCheckResult& r, bool) { results.push_back(r); });
        return *updater;
    }

    UpdateCheckResult check() {
        const std::size_t before = results.size();
        updater->checkForUpdates();
        EXPECT_TRUE(waitFor([&] { return results.size() > before; }));
        return results.empty() ? UpdateCheckResult{} : results.back();
    }

    QTemporaryDir temp;
    QSettings settings;
    FeedServer server;
    RecordingDriver driver;
    bool allowHttp = true;
    std::unique_ptr<AppcastUpdater> updater;
    std::vector<UpdateCheckResult> results;
};

TEST_F(UpdaterTest, UpToDateIsShownAndTheCheckDateIsKept) {
    server.body = feed(item("1.2.0", "https://example.org/sombrix-1.2.tar.gz"));
    make(server.url());
    ASSERT_FALSE(updater->lastUpdateCheckDate());
    EXPECT_EQ(check().kind, Kind::upToDate);
    ASSERT_TRUE(updater->window());
    EXPECT_TRUE(updater->window()->isVisible());
    EXPECT_EQ(updater->window()->headline(), QStringLiteral("You’re up to date!"));
    EXPECT_EQ(driver.calls, std::vector<std::string>{"will"});
    updater->window()->close();
    EXPECT_EQ(driver.calls, (std::vector<std::string>{"will", "attention"}));

    const auto date = updater->lastUpdateCheckDate();
    ASSERT_TRUE(date);
    // Another updater over the same settings sees the same date.
    AppcastUpdater again(server.url(), nullptr, settings, {});
    EXPECT_EQ(again.lastUpdateCheckDate(), date);
}

TEST_F(UpdaterTest, ANewerVersionOffersItsNotesAndADownloadLinkButDownloadsNothing) {
    server.body =
        feed(item("1.9", "https://example.org/1.9") + item("1.10", "https://example.org/1.10") +
             item("1.1", "https://example.org/1.1"));
    make(server.url());
    const auto result = check();
    ASSERT_EQ(result.kind, Kind::updateAvailable) << result.error.toStdString();
    EXPECT_EQ(result.version, QStringLiteral("1.10"));
    EXPECT_EQ(result.downloadUrl, QUrl("https://example.org/1.10"));

    auto* window = updater->window();
    ASSERT_TRUE(window);
    EXPECT_EQ(window->headline(), QStringLiteral("A new version of Sombrix is available!"));
    EXPECT_TRUE(window->message().contains(QStringLiteral("1.10")));
    EXPECT_EQ(window->releaseNotes(), QStringLiteral("Faster"));  // markup is not shown raw
    QUrl opened;
    window->openUrl = [&](const QUrl& url) { opened = url; };
    for (QPushButton* b : window->findChildren<QPushButton*>()) {
        if (b->text() == QStringLiteral("Download…")) {
            b->click();
        }
    }
    EXPECT_EQ(opened, QUrl("https://example.org/1.10"));
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(driver.calls, (std::vector<std::string>{"will", "attention"}));
    EXPECT_EQ(server.requests, 1);
}

TEST_F(UpdaterTest, BrokenAndPlainHttpFeedsEndInAClearErrorAndNoCheckDate) {
    struct Case {
        QByteArray body;
        int status;
        const char* says;
    };
    const Case cases[] = {
        {"<rss><channel><item>", 200, "not valid XML"},
        {feed(item("9.0", "http://example.org/plain")), 200, "secure (https) download"},
        {feed(item("9.0", "javascript:alert(1)")), 200, "secure (https) download"},
        {feed(item("9.0", "")), 200, "secure (https) download"},
        {feed("<item><title>No version</title></item>"), 200, "no version"},
        {"not found", 404, "HTTP status 404"},
    };
    make(server.url());
    for (const auto& c : cases) {
        server.body = c.body;
        server.status = c.status;
        const auto result = check();
        EXPECT_EQ(result.kind, Kind::error) << c.says;
        EXPECT_TRUE(result.error.contains(QString::fromUtf8(c.says)))
            << c.says << " / " << result.error.toStdString();
        ASSERT_TRUE(updater->window());
        EXPECT_EQ(updater->window()->headline(), QStringLiteral("Update Error"));
        EXPECT_EQ(updater->window()->message(), result.error);
    }
    EXPECT_FALSE(updater->lastUpdateCheckDate());

    // A feed that is not https is refused before anything is fetched.
    allowHttp = false;
    server.status = 200;
    server.body = feed(item("9.0", "https://example.org/9"));
    const int fetched = server.requests;
    make(server.url());
    EXPECT_TRUE(check().error.contains("secure")) << results.back().error.toStdString();
    EXPECT_EQ(server.requests, fetched);
}

TEST_F(UpdaterTest, UnreachableSlowAndOversizedServersAreCutOff) {
    AppcastUpdater::Options options;
    options.timeoutMs = 400;
    make(server.url(), options);

    server.mode = FeedServer::Mode::silent;
    EXPECT_TRUE(check().error.contains("did not answer"));
    server.mode = FeedServer::Mode::drip;
    EXPECT_TRUE(check().error.contains("did not answer"));

    // The user cancels while waiting: the failure that follows is not shown.
    server.mode = FeedServer::Mode::silent;
    const std::size_t before = results.size();
    updater->checkForUpdates();
    ASSERT_TRUE(updater->window());
    EXPECT_EQ(updater->window()->headline(), QStringLiteral("Checking for updates…"));
    updater->window()->close();
    ASSERT_TRUE(waitFor([&] { return results.size() > before; }));
    EXPECT_EQ(results.back().kind, Kind::error);
    EXPECT_FALSE(updater->window()->isVisible());

    // Longer deadline for the size cases, so that only the size can stop them.
    options.timeoutMs = 15000;
    make(server.url(), options);
    server.mode = FeedServer::Mode::flood;
    EXPECT_TRUE(check().error.contains("larger than 1 MiB")) << results.back().error.toStdString();
    server.mode = FeedServer::Mode::respond;
    server.body = QByteArray(1024 * 1024 + 1, ' ');
    EXPECT_TRUE(check().error.contains("larger than 1 MiB")) << results.back().error.toStdString();

    // A port nobody listens on any more.
    QUrl closed;
    {
        FeedServer gone;
        closed = gone.url();
    }
    make(closed, options);
    const auto result = check();
    EXPECT_TRUE(result.error.contains("could not be reached")) << result.error.toStdString();
}

TEST_F(UpdaterTest, ScheduledChecksRunOnlyWhenSwitchedOnAndStayQuietWithoutNewsOrOnFailure) {
    server.body = feed(item("1.2", "https://example.org/1.2"));
    AppcastUpdater::Options options;
    options.minimumScheduleDelayMs = 0;
    make(server.url(), options);
    EXPECT_FALSE(updater->automaticallyChecksForUpdates());  // off until the user agrees
    updater->start();
    EXPECT_FALSE(updater->isCheckScheduled());

    updater->setAutomaticallyChecksForUpdates(true);
    EXPECT_EQ(settings.value("updater/automaticChecks").toBool(), true);
    ASSERT_TRUE(waitFor([&] { return !results.empty(); }));
    EXPECT_EQ(results.back().kind, Kind::upToDate);
    EXPECT_FALSE(updater->window());  // nothing to tell the user
    EXPECT_TRUE(updater->lastUpdateCheckDate());
    // The next one waits a day.
    EXPECT_GT(updater->msUntilScheduledCheck(), 23 * 3600 * 1000);
    EXPECT_EQ(server.requests, 1);

    // News from a scheduled check is shown.
    server.body = feed(item("2.0", "https://example.org/2.0"));
    settings.remove("updater/lastCheck");
    updater->setAutomaticallyChecksForUpdates(false);
    EXPECT_FALSE(updater->isCheckScheduled());
    results.clear();
    make(server.url(), options);
    updater->start();
    EXPECT_FALSE(updater->isCheckScheduled());
    updater->setAutomaticallyChecksForUpdates(true);
    ASSERT_TRUE(waitFor([&] { return !results.empty(); }));
    EXPECT_EQ(results.back().kind, Kind::updateAvailable);
    ASSERT_TRUE(updater->window());
    EXPECT_TRUE(updater->window()->isVisible());

    // A failed one interrupts nobody and waits an interval instead of retrying at once.
    server.status = 500;
    settings.remove("updater/lastCheck");
    results.clear();
    make(server.url(), options);
    updater->start();
    ASSERT_TRUE(waitFor([&] { return !results.empty(); }));
    EXPECT_EQ(results.back().kind, Kind::error);
    EXPECT_FALSE(updater->window());
    EXPECT_FALSE(updater->lastUpdateCheckDate());
    EXPECT_GT(updater->msUntilScheduledCheck(), 23 * 3600 * 1000);
}

}  // namespace
}  // namespace sombrix

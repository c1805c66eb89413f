// The updater against a real HTTP server on 127.0.0.1: outcomes, broken feeds (the hostile ones
// are the appcast fuzz target's corpus), unreachable, slow and oversized servers, the https rule,
// persistence and scheduled checks.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <vector>

#include "feed_server.h"
#include "spin_until.h"
#include "updater/appcast_updater.h"
#include "updater/update_window.h"

namespace sombrix {
namespace {

using updater::UpdateCheckResult;
using Kind = UpdateCheckResult::Kind;
constexpr int kADay = 23 * 3600 * 1000;  // a little less, for the time the test takes

// A feed of releases, each given as version and download address.
QByteArray feed(std::initializer_list<std::pair<QByteArray, QByteArray>> releases) {
    QByteArray items;
    for (const auto& [version, url] : releases)
        items += "<item><title>Sombrix " + version +
                 "</title><description><![CDATA[<ul><li>Faster</li></ul>]]></description>"
                 "<enclosure url=\"" +
                 url + "\" sparkle:shortVersionString=\"" + version +
                 "\" length=\"1\" type=\"application/octet-stream\"/></item>";
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<rss version=\"2.0\" "
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

    void make(QUrl url, AppcastUpdater::Options options = {}) {
        options.currentVersion = "1.2";
        options.allowLoopbackHttp = allowHttp;
        results.clear();
        updater = std::make_unique<AppcastUpdater>(url, &driver, settings, options);
        QObject::connect(updater.get(), &AppcastUpdater::checkFinished,
                         [this](const UpdateCheckResult& r, bool) { results.push_back(r); });
    }

    // The next result, after `action` (a check the user asked for unless told otherwise).
    UpdateCheckResult next(const std::function<void()>& action = {}) {
        const std::size_t before = results.size();
        action ? action() : updater->checkForUpdates();
        EXPECT_TRUE(test::spinUntil([&] { return results.size() > before; }));
        return results.size() > before ? results.back() : UpdateCheckResult{};
    }
    QString headline() { return updater->window() ? updater->window()->headline() : QString(); }

    QTemporaryDir temp;
    QSettings settings;
    FeedServer server;
    RecordingDriver driver;
    bool allowHttp = true;
    std::unique_ptr<AppcastUpdater> updater;
    std::vector<UpdateCheckResult> results;
};

TEST_F(UpdaterTest, AUserCheckShowsTheOutcomeKeepsTheDateAndOnlyLinksTheDownload) {
    server.body = feed({{"1.2.0", "https://example.org/sombrix-1.2.tar.gz"}});
    make(server.url());
    ASSERT_FALSE(updater->lastUpdateCheckDate());
    EXPECT_EQ(next().kind, Kind::upToDate);
    EXPECT_TRUE(updater->window()->isVisible());
    EXPECT_EQ(headline(), QStringLiteral("You’re up to date!"));
    EXPECT_EQ(driver.calls, std::vector<std::string>{"will"});
    updater->window()->close();
    EXPECT_EQ(driver.calls, (std::vector<std::string>{"will", "attention"}));

    const auto date = updater->lastUpdateCheckDate();
    ASSERT_TRUE(date);
    // Another updater over the same settings sees the same date.
    EXPECT_EQ(AppcastUpdater(server.url(), nullptr, settings, {}).lastUpdateCheckDate(), date);

    // The newest of several versions offers its notes and a link, and nothing is downloaded.
    server.body = feed({{"1.9", "https://example.org/1.9"},
                        {"1.10", "https://example.org/1.10"},
                        {"1.1", "https://example.org/1.1"}});
    driver.calls.clear();
    const auto result = next();
    ASSERT_EQ(result.kind, Kind::updateAvailable) << result.error.toStdString();
    EXPECT_EQ(result.version, QStringLiteral("1.10"));
    EXPECT_EQ(result.downloadUrl, QUrl("https://example.org/1.10"));

    auto* window = updater->window();
    EXPECT_EQ(headline(), QStringLiteral("A new version of Sombrix is available!"));
    EXPECT_TRUE(window->message().contains(QStringLiteral("1.10")));
    EXPECT_EQ(window->releaseNotes(), QStringLiteral("Faster"));  // markup is not shown raw
    QUrl opened;
    window->openUrl = [&](const QUrl& url) { opened = url; };
    for (QPushButton* b : window->findChildren<QPushButton*>())
        if (b->text() == QStringLiteral("Download…"))
            b->click();
    EXPECT_EQ(opened, QUrl("https://example.org/1.10"));
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(driver.calls, (std::vector<std::string>{"will", "attention"}));
    EXPECT_EQ(server.requests, 2);
}

TEST_F(UpdaterTest, BrokenAndPlainHttpFeedsEndInAClearErrorAndNoCheckDate) {
    const struct {
        QByteArray body;
        int status;
        const char* says;
    } cases[] = {
        {"<rss><channel><item>", 200, "not valid XML"},
        {feed({{"9.0", "http://example.org/plain"}}), 200, "secure (https) download"},
        {feed({{"9.0", "javascript:alert(1)"}}), 200, "secure (https) download"},
        {feed({}).replace("</channel>", "<item><title>No version</title></item></channel>"), 200,
         "no version"},
        {"not found", 404, "HTTP status 404"},
    };
    make(server.url());
    for (const auto& c : cases) {
        server.body = c.body;
        server.status = c.status;
        const auto result = next();
        EXPECT_EQ(result.kind, Kind::error) << c.says;
        EXPECT_TRUE(result.error.contains(c.says)) << result.error.toStdString();
        EXPECT_EQ(headline(), QStringLiteral("Update Error"));
        EXPECT_EQ(updater->window()->message(), result.error);
    }
    EXPECT_FALSE(updater->lastUpdateCheckDate());

    // A feed that is not https is refused before anything is fetched.
    allowHttp = false;
    server.status = 200;
    server.body = feed({{"9.0", "https://example.org/9"}});
    const int fetched = server.requests;
    make(server.url());
    EXPECT_TRUE(next().error.contains("secure"));
    EXPECT_EQ(server.requests, fetched);
}

TEST_F(UpdaterTest, UnreachableSlowAndOversizedServersAreCutOff) {
    AppcastUpdater::Options options;
    options.timeoutMs = 400;
    make(server.url(), options);
    // A server that sends a byte now and then is never idle: only a deadline stops it.
    server.mode = FeedServer::Mode::drip;
    EXPECT_TRUE(next().error.contains("did not answer"));

    // The user cancels while waiting: the failure that follows is not shown.
    EXPECT_EQ(next([&] {
                  updater->checkForUpdates();
                  EXPECT_EQ(headline(), QStringLiteral("Checking for updates…"));
                  updater->window()->close();
              }).kind,
              Kind::error);
    EXPECT_FALSE(updater->window()->isVisible());

    // A longer deadline for a feed without end (and without a length announced, which would
    // stop it at once), so that only counting what arrives can stop it.
    options.timeoutMs = 15000;
    make(server.url(), options);
    server.mode = FeedServer::Mode::flood;
    EXPECT_TRUE(next().error.contains("larger than 1 MiB")) << results.back().error.toStdString();

    // A port nobody listens on any more.
    make(FeedServer().url(), options);
    EXPECT_TRUE(next().error.contains("could not be reached"))
        << results.back().error.toStdString();
}

// Each scheduled check by a fresh updater over the same settings: the user's consent is kept,
// only news is shown, and success or failure alike wait a day for the next one.
TEST_F(UpdaterTest, ScheduledChecksRunOnlyWhenSwitchedOnAndStayQuietWithoutNewsOrOnFailure) {
    const struct {
        QByteArray version;
        int status;
        Kind kind;
    } cases[] = {{"1.2", 200, Kind::upToDate},
                 {"2.0", 200, Kind::updateAvailable},
                 {"2.0", 500, Kind::error}};
    AppcastUpdater::Options options;
    options.minimumScheduleDelayMs = 0;
    for (const auto& c : cases) {
        server.body = feed({{c.version, "https://example.org/" + c.version}});
        server.status = c.status;
        settings.remove("updater/lastCheck");
        make(server.url(), options);
        const int requests = server.requests;
        const auto result = next([&] {
            updater->start();
            if (&c == cases) {  // off until the user agrees, then kept for the next start
                EXPECT_FALSE(updater->isCheckScheduled());
                updater->setAutomaticallyChecksForUpdates(true);
            }
        });
        EXPECT_EQ(result.kind, c.kind);
        EXPECT_EQ(updater->window() != nullptr, c.kind == Kind::updateAvailable);
        EXPECT_EQ(updater->lastUpdateCheckDate().has_value(), c.kind != Kind::error);
        EXPECT_GT(updater->msUntilScheduledCheck(), kADay);
        EXPECT_EQ(server.requests, requests + 1);
    }
    updater->setAutomaticallyChecksForUpdates(false);
    EXPECT_FALSE(updater->isCheckScheduled());
    make(server.url(), options);
    updater->start();
    EXPECT_FALSE(updater->isCheckScheduled());
}

}  // namespace
}  // namespace sombrix

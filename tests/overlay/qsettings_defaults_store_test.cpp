// The settings store and its watcher against real files: what each kind of text reads as, what
// writes produce, that reading never touches the file, that a write the file cannot take still
// counts, and that edits made elsewhere are seen.
#include "platform/qt/qsettings_defaults_store.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryDir>
#include <cmath>
#include <functional>

#include "platform/qt/settings_file_watcher.h"
#include "spin_until.h"

namespace sombrix {
namespace {

using test::spinUntil;

class SettingsFile : public ::testing::Test {
protected:
    QString path() const { return dir_.filePath(QStringLiteral("Sombrix.conf")); }
    void writeFile(const QByteArray& bytes) { writeFile(path(), bytes); }
    void writeFile(const QString& path, const QByteArray& bytes) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    QByteArray readFile() {
        QFile f(path());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QTemporaryDir dir_;
};

TEST_F(SettingsFile, TextReadsAsTheTypeItWasWrittenWith) {
    writeFile(
        "[General]\n"
        "flagOn=true\nflagOff=false\nupper=True\n"
        "count=42\nnegative=-7\nhuge=99999999999999999999\n"
        "half=0.5\nexponent=1e3\nnotANumber=nan\ninfinite=inf\nnegInfinite=-inf\n"
        "style=wallpaper\nempty=\nlist=a, b\n");
    QSettingsDefaultsStore store(path());

    EXPECT_EQ(store.object("flagOn"), DefaultsValue(true));
    EXPECT_EQ(store.object("flagOff"), DefaultsValue(false));
    EXPECT_EQ(store.object("upper"), DefaultsValue(std::string("True")));
    EXPECT_EQ(store.object("count"), DefaultsValue(std::int64_t{42}));
    EXPECT_EQ(store.object("negative"), DefaultsValue(std::int64_t{-7}));
    EXPECT_EQ(store.object("huge"), DefaultsValue(1e20));
    EXPECT_EQ(store.object("half"), DefaultsValue(0.5));
    EXPECT_EQ(store.object("exponent"), DefaultsValue(1000.0));
    auto nan = store.object("notANumber");
    ASSERT_TRUE(nan && std::holds_alternative<double>(*nan));
    EXPECT_TRUE(std::isnan(std::get<double>(*nan)));
    EXPECT_EQ(store.object("infinite"), DefaultsValue(INFINITY));
    EXPECT_EQ(store.object("negInfinite"), DefaultsValue(-INFINITY));
    EXPECT_EQ(store.object("style"), DefaultsValue(std::string("wallpaper")));
    EXPECT_EQ(store.object("empty"), DefaultsValue(std::string()));
    EXPECT_EQ(store.object("list"), DefaultsValue(std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(store.object("missing"), std::nullopt);
}

TEST_F(SettingsFile, WrittenValuesReadBackWithTheirTypesInANewStore) {
    {
        QSettingsDefaultsStore store(path());
        store.setBool("dimEnabled", false);
        store.setDouble("dimStrength", 0.75);
        store.setDouble("whole", 2.0);
        store.setString("dimStyle", "wallpaper");
        store.setString("comma", "a, b");
        store.setStringList("classes", {"mpv", "XLogo", "odd, one"});
        store.setStringList("single", {"mpv"});
        store.setStringList("gone", {"x"});
        store.setStringList("gone", {});
    }
    QSettingsDefaultsStore store(path());
    EXPECT_EQ(store.object("dimEnabled"), DefaultsValue(false));
    EXPECT_EQ(store.object("dimStrength"), DefaultsValue(0.75));
    // A whole double comes back as a number the readers convert, never as a string.
    auto whole = store.object("whole");
    ASSERT_TRUE(whole);
    EXPECT_FALSE(std::holds_alternative<std::string>(*whole));
    EXPECT_EQ(store.object("dimStyle"), DefaultsValue(std::string("wallpaper")));
    EXPECT_EQ(store.object("comma"), DefaultsValue(std::string("a, b")));
    // Lists as QSettings writes them, so a hand edit in the same form reads the same way.
    EXPECT_TRUE(readFile().contains("classes=mpv, XLogo, \"odd, one\"\n"));
    EXPECT_EQ(store.object("classes"),
              DefaultsValue(std::vector<std::string>{"mpv", "XLogo", "odd, one"}));
    EXPECT_TRUE(readFile().contains("single=mpv\n"));
    EXPECT_FALSE(readFile().contains("gone"));
    EXPECT_TRUE(readFile().contains("[General]"));
}

TEST_F(SettingsFile, ReadingNeverRewritesTheFileAndSeesItReplaced) {
    const QByteArray original = "[General]\n; the user's note\ndimStrength = 0.3\ndimStyle=black\n";
    writeFile(original);
    const auto before = QFileInfo(path()).lastModified();
    QSettingsDefaultsStore store(path());
    for (int i = 0; i < 3; ++i) {
        store.object("dimStrength");
        store.object("dimEnabled");
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(readFile(), original);
    EXPECT_EQ(QFileInfo(path()).lastModified(), before);

    // Replaced by a file that is not settings at all (or none): read again, as nothing stored.
    writeFile(QByteArray("\x00\xff[General\n=\x01", 14));
    EXPECT_EQ(store.object("dimStrength"), std::nullopt);
    EXPECT_EQ(QSettingsDefaultsStore(dir_.filePath(QStringLiteral("nowhere/Sombrix.conf")))
                  .object("dimStrength"),
              std::nullopt);
}

TEST_F(SettingsFile, AWriteTheFileCannotTakeStillCountsIsReportedAndLeavesTheFileAlone) {
    const QByteArray commented = "[General]\n# the user's note\ndimStrength=0.3\n";
    writeFile(commented);
    ASSERT_TRUE(QDir(dir_.path()).mkpath(QStringLiteral("folder.conf")));
    writeFile(dir_.filePath(QStringLiteral("plain")), "not a folder");
    for (const QString& place : {path(), dir_.filePath(QStringLiteral("folder.conf")),
                                 dir_.filePath(QStringLiteral("plain/Sombrix.conf"))}) {
        QSettingsDefaultsStore store(place);
        store.setBool("dimEnabled", false);
        EXPECT_EQ(store.object("dimEnabled"), DefaultsValue(false)) << place.toStdString();
        EXPECT_NE(store.saveProblem().find(place.toStdString()), std::string::npos)
            << store.saveProblem();
    }
    EXPECT_EQ(readFile(), commented);
    EXPECT_EQ(QSettingsDefaultsStore(path()).object("dimStrength"), DefaultsValue(0.3));
}

TEST_F(SettingsFile, ABurstOfWritesIsSavedAtOnceThenOnceMoreAtItsEndAndNothingIsLost) {
    {
        QSettingsDefaultsStore store(path(), 3'600'000);
        for (int step = 1; step <= 9; ++step)
            store.setDouble("dimStrength", step / 10.0);
        EXPECT_EQ(store.object("dimStrength"), DefaultsValue(0.9));
        EXPECT_EQ(QSettingsDefaultsStore(path()).object("dimStrength"), DefaultsValue(0.1));
    }
    EXPECT_EQ(QSettingsDefaultsStore(path()).object("dimStrength"), DefaultsValue(0.9));

    QSettingsDefaultsStore quick(path(), 1);
    quick.setDouble("dimStrength", 0.4);
    quick.setDouble("dimStrength", 0.5);
    EXPECT_TRUE(spinUntil([&] {
        return QSettingsDefaultsStore(path()).object("dimStrength") == DefaultsValue(0.5);
    }));
}

TEST_F(SettingsFile, TheWatcherSeesTheFileCreatedEditedAndReplacedAsEditorsSaveIt) {
    const QString file = dir_.filePath(QStringLiteral("config/Sombrix/Sombrix.conf"));
    int changes = 0;
    SettingsFileWatcher watcher(file, [&] { ++changes; });
    const auto changedBy = [&](const std::function<void()>& edit) {
        const int before = changes;
        edit();
        return spinUntil([&] { return changes > before; });
    };
    EXPECT_TRUE(changedBy([&] {
        QDir(dir_.path()).mkpath(QStringLiteral("config/Sombrix"));
        writeFile(file, "[General]\ndimStyle=black\n");
    }));
    for (int round = 0; round < 2; ++round) {
        EXPECT_TRUE(changedBy([&] { writeFile(file, "[General]\ndimStyle=wallpaper\n"); }));
        EXPECT_TRUE(changedBy([&] {
            QSaveFile replacement(file);
            replacement.open(QIODevice::WriteOnly);
            replacement.write("[General]\ndimEnabled=false\n");
            replacement.commit();
        }));
    }
}

}  // namespace
}  // namespace sombrix

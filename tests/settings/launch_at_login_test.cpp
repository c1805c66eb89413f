// Launch at login over real files in a temporary autostart directory.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "settings/launch_at_login.h"

namespace sombrix {
namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& contents) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(contents);
}

class LaunchAtLoginTest : public ::testing::Test {
protected:
    QTemporaryDir temp;
    QString autostart() const { return temp.path() + "/config/autostart"; }
};

TEST_F(LaunchAtLoginTest, RegisteringWritesAnEntryThatStartsTheBinaryAndRemovingDeletesIt) {
    // An odd binary path is quoted and escaped, and cannot add keys of its own.
    AutostartLoginItems items(autostart(), "/opt/100% $HOME\nHidden=true/sombrix");
    EXPECT_FALSE(items.isEnabled());

    std::string error;
    ASSERT_TRUE(LaunchAtLogin::setEnabled(items, true, error)) << error;
    EXPECT_TRUE(items.isEnabled());
    const QByteArray entry = readAll(autostart() + "/sombrix.desktop");
    EXPECT_TRUE(entry.startsWith("[Desktop Entry]\n"));
    EXPECT_TRUE(entry.contains("\nType=Application\n"));
    EXPECT_TRUE(entry.contains("\nExec=\"/opt/100%% \\\\$HOME\\nHidden=true/sombrix\"\n"));

    ASSERT_TRUE(LaunchAtLogin::setEnabled(items, false, error)) << error;
    EXPECT_FALSE(items.isEnabled());
    EXPECT_FALSE(QFile::exists(autostart() + "/sombrix.desktop"));
}

TEST_F(LaunchAtLoginTest, AnEntryTheSessionHidIsOffAndIsReplacedWhenSwitchedOn) {
    ASSERT_TRUE(QDir().mkpath(autostart()));
    writeFile(autostart() + "/sombrix.desktop",
              "[Desktop Entry]\nType=Application\nExec=old\nHidden=true\n");
    AutostartLoginItems items(autostart(), "/usr/bin/sombrix");
    EXPECT_FALSE(items.isEnabled());

    // Hidden in another group does not count.
    writeFile(autostart() + "/sombrix.desktop",
              "[Desktop Entry]\nExec=old\n[Desktop Action x]\nHidden=true\n");
    EXPECT_TRUE(items.isEnabled());

    writeFile(autostart() + "/sombrix.desktop", "[Desktop Entry]\nHidden = true\n");
    std::string error;
    ASSERT_TRUE(LaunchAtLogin::setEnabled(items, true, error)) << error;
    EXPECT_TRUE(items.isEnabled());
    EXPECT_FALSE(readAll(autostart() + "/sombrix.desktop").contains("Hidden"));
}

TEST_F(LaunchAtLoginTest, AnUnwritableAutostartPlaceFailsInTheSystemsWords) {
    // Root ignores permission bits, so block the directory with a regular file instead.
    ASSERT_TRUE(QDir().mkpath(temp.path() + "/config"));
    writeFile(autostart(), "not a directory");
    AutostartLoginItems items(autostart() + "/deeper", "/usr/bin/sombrix");
    std::string error;
    EXPECT_FALSE(LaunchAtLogin::setEnabled(items, true, error));
    EXPECT_FALSE(items.isEnabled());
    EXPECT_NE(error.find("Not a directory"), std::string::npos) << error;
}

}  // namespace
}  // namespace sombrix

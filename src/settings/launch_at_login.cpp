// XDG autostart entry for launch at login.
#include "settings/launch_at_login.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "settings/build_info.h"

namespace sombrix {

namespace {

// An Exec argument in double quotes. Desktop entries unescape the value first and the quoted
// argument second, so the characters special inside quotes need two backslashes, a backslash
// itself four; "%" starts a field code and is doubled; line breaks use the value escapes so that
// a path can never start a new key.
QString quotedExec(const QString& path) {
    QString escaped;
    for (QChar c : path) {
        if (c == u'"' || c == u'`' || c == u'$') {
            escaped += QStringLiteral("\\\\") + c;
        } else if (c == u'\\') {
            escaped += QStringLiteral("\\\\\\\\");
        } else if (c == u'%') {
            escaped += QStringLiteral("%%");
        } else if (c == u'\n') {
            escaped += QStringLiteral("\\n");
        } else if (c == u'\r') {
            escaped += QStringLiteral("\\r");
        } else {
            escaped += c;
        }
    }
    return u'"' + escaped + u'"';
}

QByteArray entryText(const QString& executable) {
    QString text;
    text += QStringLiteral("[Desktop Entry]\n");
    text += QStringLiteral("Type=Application\n");
    text += QStringLiteral("Name=Sombrix\n");
    text += QStringLiteral("Comment=Dims everything but the window you work in\n");
    text += QStringLiteral("Exec=") + quotedExec(executable) + u'\n';
    text += QStringLiteral("Terminal=false\n");
    text += QStringLiteral("X-GNOME-Autostart-enabled=true\n");
    return text.toUtf8();
}

bool saysHidden(const QByteArray& contents) {
    bool inMainGroup = false;
    for (const QByteArray& raw : contents.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith('[')) {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        if (!inMainGroup) {
            continue;
        }
        const int eq = line.indexOf('=');
        if (eq > 0 && line.left(eq).trimmed() == "Hidden" && line.mid(eq + 1).trimmed() == "true") {
            return true;
        }
    }
    return false;
}

}  // namespace

AutostartLoginItems::AutostartLoginItems(QString autostartDirectory, QString executable)
    : directory_(std::move(autostartDirectory)), executable_(std::move(executable)) {}

QString AutostartLoginItems::defaultDirectory() {
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || !QDir::isAbsolutePath(config)) {
        config = QDir::homePath() + QStringLiteral("/.config");
    }
    return config + QStringLiteral("/autostart");
}

QString AutostartLoginItems::defaultExecutable() {
    const QString installed = QString::fromUtf8(buildinfo::kInstalledExecutable);
    if (!installed.isEmpty() && QFileInfo(installed).isExecutable()) {
        return installed;
    }
    return QCoreApplication::applicationFilePath();
}

QString AutostartLoginItems::entryPath() const {
    return directory_ + QStringLiteral("/sombrix.desktop");
}

bool AutostartLoginItems::isEnabled() {
    QFile file(entryPath());
    if (!file.open(QIODevice::ReadOnly)) {
        return false;
    }
    // An entry is a few hundred bytes; anything beyond is not ours to interpret.
    return !saysHidden(file.read(64 * 1024));
}

bool AutostartLoginItems::registerItem(std::string& error) {
    std::error_code ec;
    std::filesystem::create_directories(directory_.toStdString(), ec);
    if (ec) {
        error = ec.message();
        return false;
    }
    QSaveFile file(entryPath());
    if (!file.open(QIODevice::WriteOnly)) {
        error = file.errorString().toStdString();
        return false;
    }
    file.write(entryText(executable_));
    if (!file.commit()) {
        error = file.errorString().toStdString();
        return false;
    }
    return true;
}

bool AutostartLoginItems::unregisterItem(std::string& error) {
    std::error_code ec;
    std::filesystem::remove(entryPath().toStdString(), ec);
    if (ec) {
        error = ec.message();
        return false;
    }
    return true;
}

namespace LaunchAtLogin {

bool setEnabled(LoginItems& items, bool wanted, std::string& error) {
    const bool enabled = items.isEnabled();
    if (wanted && !enabled) {
        return items.registerItem(error);
    }
    if (!wanted && enabled) {
        return items.unregisterItem(error);
    }
    return true;
}

}  // namespace LaunchAtLogin

}  // namespace sombrix

// Watching the settings file, its folder, and the folder above while the folder is missing.
#include "platform/qt/settings_file_watcher.h"

#include <QFileInfo>

namespace sombrix {

namespace {
// Editors and QSettings save in several steps (a temporary file, a rename, a lock file): one
// report for the lot.
constexpr int kSettleMs = 50;
}  // namespace

SettingsFileWatcher::SettingsFileWatcher(const QString& filePath, std::function<void()> onChange)
    : path_(QFileInfo(filePath).absoluteFilePath()), onChange_(std::move(onChange)) {
    settle_.setSingleShot(true);
    settle_.setInterval(kSettleMs);
    QObject::connect(&settle_, &QTimer::timeout, [this] {
        rearm();
        if (onChange_)
            onChange_();
    });
    const auto changed = [this](const QString&) { settle_.start(); };
    QObject::connect(&watcher_, &QFileSystemWatcher::fileChanged, changed);
    QObject::connect(&watcher_, &QFileSystemWatcher::directoryChanged, changed);
    rearm();
}

void SettingsFileWatcher::rearm() {
    const QFileInfo file(path_);
    const QString folder = file.absolutePath();
    QStringList wanted;
    if (file.exists())
        wanted << path_;
    // A folder that does not exist yet is watched through the nearest one above it that does.
    QString watched = folder;
    while (!QFileInfo(watched).isDir() && watched != QFileInfo(watched).absolutePath())
        watched = QFileInfo(watched).absolutePath();
    if (QFileInfo(watched).isDir())
        wanted << watched;
    // Set afresh rather than kept: a replaced file keeps its name but is another file, whose
    // changes the old watch would never see.
    const QStringList previous = watcher_.files() + watcher_.directories();
    if (!previous.isEmpty())
        watcher_.removePaths(previous);
    watcher_.addPaths(wanted);
}

}  // namespace sombrix

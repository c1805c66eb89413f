// Tells when the settings file may have changed on disk: written in place, replaced (as editors
// and QSettings itself save), deleted, or created together with its folders.
#pragma once

#include <QFileSystemWatcher>
#include <QString>
#include <QTimer>
#include <functional>

namespace sombrix {

class SettingsFileWatcher {
public:
    // `onChange` runs once a burst of changes has settled; it may run for changes that leave
    // the settings as they were (a lock file, a save of the same values).
    SettingsFileWatcher(const QString& filePath, std::function<void()> onChange);

private:
    // A replaced or deleted file drops out of the watch, and a missing folder cannot be watched:
    // the watch is set again after every change.
    void rearm();

    QString path_;
    std::function<void()> onChange_;
    QFileSystemWatcher watcher_;
    QTimer settle_;
};

}  // namespace sombrix

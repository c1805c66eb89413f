// Typed reads and writes over QSettings, with what was written kept in memory until it is saved.
#include "platform/qt/qsettings_defaults_store.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryFile>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace sombrix {

namespace {

QString keyOf(std::string_view key) {
    return QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size()));
}

std::optional<DefaultsValue> fromVariant(const QVariant& value) {
    switch (value.typeId()) {
        case QMetaType::Bool:
            return value.toBool();
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
            return static_cast<std::int64_t>(value.toLongLong());
        case QMetaType::Double:
        case QMetaType::Float:
            return value.toDouble();
        case QMetaType::QString:
            return QSettingsDefaultsStore::inferFromText(value.toString());
        case QMetaType::QStringList: {
            std::vector<std::string> list;
            for (const auto& entry : value.toStringList())
                list.push_back(entry.toStdString());
            return list;
        }
        default:
            // Missing (a removal waiting to be saved included), or something only a hand edit
            // could produce (a serialised Qt type): not a value this store writes.
            return std::nullopt;
    }
}

// Why writing `path` failed, as far as the file system tells.
QString writeFailure(const QString& path) {
    const QFileInfo file(path);
    const QFileInfo folder(file.absolutePath());
    if (folder.exists() && !folder.isDir())
        return QStringLiteral("%1 is a file, not a folder").arg(folder.filePath());
    if (file.isDir())
        return QStringLiteral("it is a folder");
    return QStringLiteral("the file or its folder cannot be written");
}

// How often a save is made again at once when the file keeps changing while it is written; then
// the next try waits for the save interval.
constexpr int kSaveAttempts = 4;

}  // namespace

QSettingsDefaultsStore::QSettingsDefaultsStore()
    : QSettingsDefaultsStore(QSettings(QSettings::NativeFormat, QSettings::UserScope,
                                       QStringLiteral("Sombrix"), QStringLiteral("Sombrix"))
                                 .fileName()) {}

QSettingsDefaultsStore::QSettingsDefaultsStore(const QString& filePath, int saveIntervalMs)
    : path_(filePath), saveIntervalMs_(saveIntervalMs) {
    saveTimer_.setSingleShot(true);
    QObject::connect(&saveTimer_, &QTimer::timeout, [this] { save(); });
}

QSettingsDefaultsStore::~QSettingsDefaultsStore() {
    flush();
}

QSettingsDefaultsStore::Stamp QSettingsDefaultsStore::stampOf(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return Stamp{.error = errno};
    return Stamp{.device = info.st_dev,
                 .inode = info.st_ino,
                 .mode = info.st_mode,
                 .size = info.st_size,
                 .modified = info.st_mtim.tv_sec * 1'000'000'000LL + info.st_mtim.tv_nsec,
                 .changed = info.st_ctim.tv_sec * 1'000'000'000LL + info.st_ctim.tv_nsec};
}

bool QSettingsDefaultsStore::sameFile(const Stamp& a, const Stamp& b) {
    return a.error == b.error && a.device == b.device && a.inode == b.inode && a.size == b.size &&
           a.modified == b.modified;
}

DefaultsValue QSettingsDefaultsStore::inferFromText(const QString& text) {
    if (text == QLatin1String("true"))
        return true;
    if (text == QLatin1String("false"))
        return false;
    bool ok = false;
    const qlonglong integer = text.toLongLong(&ok);
    if (ok)
        return static_cast<std::int64_t>(integer);
    // toDouble accepts "nan", "inf" and "-inf" as well as decimal and exponent forms; it also
    // ignores surrounding blanks, which the INI reader has already trimmed.
    const double number = text.toDouble(&ok);
    if (ok)
        return number;
    return text.toStdString();
}

void QSettingsDefaultsStore::reload() {
    // Another process (or the user) may have edited the file: pick that up, but only when it
    // changed, so that reading several times a second costs one stat.
    const Stamp now = stampOf(path_);
    if (stamp_ && *stamp_ == now)
        return;
    const bool firstRead = !stamp_;
    stamp_ = now;
    unreadable_.clear();
    fileBytes_.clear();
    if (now.error == ENOENT || now.error == ENOTDIR)
        return;  // nothing there to lose: a save may create it
    if (now.error != 0) {
        unreadable_ = QString::fromLocal8Bit(std::strerror(now.error));
        return;
    }
    if (S_ISDIR(now.mode)) {
        unreadable_ = QStringLiteral("it is a folder");
        return;
    }
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly)) {
        unreadable_ = file.errorString();
        return;
    }
    // Parsed from a private copy: QSettings keeps what it parsed per file name and reports a
    // format error only while it parses, so a fresh name gives the values and the verdict of
    // exactly these bytes.
    QTemporaryFile copy(QDir::tempPath() + QStringLiteral("/sombrix-settings-XXXXXX.conf"));
    fileBytes_ = file.readAll();
    if (!copy.open() || copy.write(fileBytes_) < 0 || !copy.flush()) {
        unreadable_ = QStringLiteral("a copy to read it could not be made");
        return;
    }
    QSettings parsed(copy.fileName(), QSettings::IniFormat);
    parsed.allKeys();
    if (parsed.status() != QSettings::NoError)
        unreadable_ = QStringLiteral("it has lines Sombrix cannot read, which saving would remove");
    std::map<QString, QVariant> fresh;
    for (const QString& key : parsed.childKeys())
        fresh.emplace(key, parsed.value(key));
    // An edit made elsewhere is newer than a value of ours still waiting to be saved. The first
    // read has nothing to compare with: what it finds is older than this session's writes.
    std::erase_if(pending_, [&](const auto& entry) {
        if (firstRead)
            return false;
        const auto before = fileValues_.find(entry.first);
        const auto after = fresh.find(entry.first);
        const QVariant old = before == fileValues_.end() ? QVariant() : before->second;
        return (after == fresh.end() ? QVariant() : after->second) != old;
    });
    fileValues_ = std::move(fresh);
}

std::optional<DefaultsValue> QSettingsDefaultsStore::object(std::string_view key) {
    reload();
    const QString name = keyOf(key);
    if (const auto it = pending_.find(name); it != pending_.end())
        return fromVariant(it->second);
    if (const auto it = fileValues_.find(name); it != fileValues_.end())
        return fromVariant(it->second);
    return std::nullopt;
}

void QSettingsDefaultsStore::write(std::string_view key, const QVariant& value) {
    pending_.insert_or_assign(keyOf(key), value);
    if (saveTimer_.isActive())
        return;
    if (!sinceSave_.isValid() || sinceSave_.elapsed() >= saveIntervalMs_) {
        save();
    } else {
        saveTimer_.start(static_cast<int>(saveIntervalMs_ - sinceSave_.elapsed()));
    }
}

void QSettingsDefaultsStore::flush() {
    if (!pending_.empty())
        save();
}

void QSettingsDefaultsStore::save() {
    saveTimer_.stop();
    for (int attempt = 0; attempt < kSaveAttempts; ++attempt) {
        // An edit made elsewhere since the last read drops the pending values it beats.
        reload();
        if (pending_.empty())
            return;
        sinceSave_.start();
        switch (replaceFile()) {
            case Outcome::failed:
                return;
            case Outcome::raced:
                continue;
            case Outcome::saved:
                for (auto& [key, value] : pending_) {
                    if (value.isValid())
                        fileValues_.insert_or_assign(key, std::move(value));
                    else
                        fileValues_.erase(key);
                }
                pending_.clear();
                problem_.clear();
                // Read back as text, as any later read of the file will see it.
                stamp_.reset();
                reload();
                return;
        }
    }
    saveTimer_.start(saveIntervalMs_);
}

QSettingsDefaultsStore::Outcome QSettingsDefaultsStore::replaceFile() {
    const auto failed = [this](const QString& why) {
        problem_ = QStringLiteral(
                       "Sombrix could not save its settings to %1 (%2). Your changes "
                       "apply until Sombrix quits.")
                       .arg(QDir::toNativeSeparators(path_), why)
                       .toStdString();
        return Outcome::failed;
    };
    if (!unreadable_.isEmpty())
        return failed(unreadable_);
    // Written beside the file (beside its target when it is a link, which stays a link), from
    // the bytes last read so that other keys and sections stay as they are. QSettings keeps
    // what it parsed per file name, hence a fresh name each time.
    QString target = QFileInfo(path_).canonicalFilePath();
    if (target.isEmpty())
        target = path_;
    const QFileInfo info(target);
    QTemporaryFile next(info.absolutePath() + QStringLiteral("/.") + info.fileName() +
                        QStringLiteral("-XXXXXX"));
    if (!QDir().mkpath(info.absolutePath()) || !next.open() || next.write(fileBytes_) < 0 ||
        !next.flush())
        return failed(writeFailure(path_));
    if (stamp_->error == 0)
        ::fchmod(next.handle(), stamp_->mode & 07777);
    {
        QSettings settings(next.fileName(), QSettings::IniFormat);
        for (const auto& [key, value] : pending_) {
            if (value.isValid())
                settings.setValue(key, value);
            else
                settings.remove(key);
        }
        settings.sync();
        if (settings.status() != QSettings::NoError)
            return failed(writeFailure(path_));
    }
    // Put in place only over the file last read. The exchange hands back what was there at
    // that instant, so an edit landing between this check and the exchange is seen as well.
    if (!sameFile(stampOf(path_), *stamp_))
        return Outcome::raced;
    const QByteArray from = QFile::encodeName(next.fileName());
    const QByteArray to = QFile::encodeName(target);
    const unsigned how = stamp_->error == 0 ? RENAME_EXCHANGE : RENAME_NOREPLACE;
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), how) != 0) {
        if (errno == ENOENT || errno == EEXIST)
            return Outcome::raced;  // the file went away, or one was made meanwhile
        // A file system without these renames has the check above only.
        if (errno != EINVAL || ::rename(from.constData(), to.constData()) != 0)
            return failed(writeFailure(path_));
    } else if (how == RENAME_EXCHANGE && !sameFile(stampOf(next.fileName()), *stamp_)) {
        // Handed back was an edit made meanwhile: it goes back in place, ours is dropped.
        if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_EXCHANGE))
            next.setAutoRemove(false);  // the edit is left beside the file, not deleted
        return Outcome::raced;
    }
    return Outcome::saved;
}

void QSettingsDefaultsStore::setBool(std::string_view key, bool value) {
    write(key, value);
}

void QSettingsDefaultsStore::setDouble(std::string_view key, double value) {
    write(key, value);
}

void QSettingsDefaultsStore::setString(std::string_view key, std::string_view value) {
    write(key, QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size())));
}

void QSettingsDefaultsStore::setStringList(std::string_view key,
                                           const std::vector<std::string>& list) {
    // QSettings would write an empty list as "@Invalid()"; no key says the same more plainly.
    // The invalid value stands for that removal until it is saved.
    if (list.empty()) {
        write(key, QVariant());
        return;
    }
    QStringList entries;
    for (const auto& entry : list)
        entries.append(QString::fromStdString(entry));
    write(key, entries);
}

}  // namespace sombrix

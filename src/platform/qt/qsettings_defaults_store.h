// The user's settings in QSettings' native format: ~/.config/Sombrix/Sombrix.conf, keys under
// [General].
#pragma once

#include <sys/types.h>

#include <QElapsedTimer>
#include <QString>
#include <QTimer>
#include <QVariant>
#include <map>

#include "platform/defaults_store.h"

namespace sombrix {

// The file stores text, so a read infers the type the value was written with: "true"/"false"
// is a bool, an integer literal an int64, any other number (including "nan" and "inf") a
// double, anything else a string; a comma list, as QSettings writes a string list, reads as a
// list (so a one-entry list reads back as that entry's text).
//
// What the store knows never shrinks because the file misbehaves: a value written in this
// session reads back until it is saved or the file is edited elsewhere; a file that cannot be
// read, or that went away, leaves the values last read from it in place; a file with lines
// QSettings cannot parse still gives its readable keys. Reading never writes, and a file that
// could not be read whole is never written, since saving would drop what could not be read.
//
// A save never overwrites an edit made elsewhere while it was being written: the new file is put
// in place only while the file there is still the one last read, and otherwise the edit is read
// (its keys beat ours) and the save is made again.
//
// Writes are saved at most once per save interval: the first at once, later ones together at
// the end of the interval, so a dragged slider does not rewrite the file on every step. What
// is still waiting is saved by flush() and on destruction.
class QSettingsDefaultsStore final : public DefaultsStore {
public:
    static constexpr int kSaveIntervalMs = 250;

    // The application's own store (organisation and application "Sombrix").
    QSettingsDefaultsStore();
    // A store kept in `filePath` (INI format), for tools and tests.
    explicit QSettingsDefaultsStore(const QString& filePath, int saveIntervalMs = kSaveIntervalMs);
    ~QSettingsDefaultsStore() override;

    std::optional<DefaultsValue> object(std::string_view key) override;
    void setBool(std::string_view key, bool value) override;
    void setDouble(std::string_view key, double value) override;
    void setString(std::string_view key, std::string_view value) override;
    void setStringList(std::string_view key, const std::vector<std::string>& list) override;
    std::string saveProblem() const override { return problem_; }

    // Saves what is waiting now.
    void flush();

    // Where the values live.
    QString fileName() const { return path_; }

    // The type a stored text reads as.
    static DefaultsValue inferFromText(const QString& text);

private:
    // What stat(2) says of the file; a change of any part means it was written or replaced.
    struct Stamp {
        int error = 0;
        dev_t device = 0;
        ino_t inode = 0;
        mode_t mode = 0;
        off_t size = 0;
        long long modified = 0;
        long long changed = 0;
        friend bool operator==(const Stamp&, const Stamp&) = default;
    };
    static Stamp stampOf(const QString& path);
    // The same file with the same contents, whatever a rename did to its change time.
    static bool sameFile(const Stamp& a, const Stamp& b);

    enum class Outcome { saved, failed, raced };

    void reload();
    void write(std::string_view key, const QVariant& value);
    void save();
    // Writes the file as last read with the pending values over it, and puts it in place.
    Outcome replaceFile();

    QString path_;
    int saveIntervalMs_;
    std::optional<Stamp> stamp_;
    // The file's top-level keys as last read.
    std::map<QString, QVariant> fileValues_;
    // The file's bytes as last read: what a save starts from.
    QByteArray fileBytes_;
    // Why the file as last seen must not be written; empty when it may.
    QString unreadable_;
    // Written in this session and not in the file yet.
    std::map<QString, QVariant> pending_;
    std::string problem_;
    QElapsedTimer sinceSave_;
    QTimer saveTimer_;
};

}  // namespace sombrix

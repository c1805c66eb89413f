// The user's settings in QSettings' native format: ~/.config/Sombrix/Sombrix.conf, keys under
// [General].
#pragma once

#include <QSettings>
#include <QString>
#include <memory>

#include "platform/defaults_store.h"

namespace sombrix {

// The file stores text, so a read infers the type the value was written with: "true"/"false"
// is a bool, an integer literal an int64, any other number (including "nan" and "inf") a
// double, anything else a string; a comma list, as QSettings writes a string list, reads as a
// list (so a one-entry list reads back as that entry's text). Reads never write the file; an
// unreadable or corrupt file reads as empty, so every reader falls back to its default.
class QSettingsDefaultsStore final : public DefaultsStore {
public:
    // The application's own store (organisation and application "Sombrix").
    QSettingsDefaultsStore();
    // A store kept in `filePath` (INI format), for tools and tests.
    explicit QSettingsDefaultsStore(const QString& filePath);
    ~QSettingsDefaultsStore() override;

    std::optional<DefaultsValue> object(std::string_view key) override;
    void setBool(std::string_view key, bool value) override;
    void setDouble(std::string_view key, double value) override;
    void setString(std::string_view key, std::string_view value) override;
    void setStringList(std::string_view key, const std::vector<std::string>& list) override;

    // Where the values live.
    QString fileName() const;

    // The type a stored text reads as.
    static DefaultsValue inferFromText(const QString& text);

private:
    void write(std::string_view key, const QVariant& value);

    std::unique_ptr<QSettings> settings_;
};

}  // namespace sombrix

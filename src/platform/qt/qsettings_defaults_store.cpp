// Typed reads and writes over QSettings.
#include "platform/qt/qsettings_defaults_store.h"

namespace sombrix {

namespace {

QString keyOf(std::string_view key) {
    return QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size()));
}

}  // namespace

QSettingsDefaultsStore::QSettingsDefaultsStore()
    : settings_(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                            QStringLiteral("Sombrix"), QStringLiteral("Sombrix"))) {
}

QSettingsDefaultsStore::QSettingsDefaultsStore(const QString& filePath)
    : settings_(std::make_unique<QSettings>(filePath, QSettings::IniFormat)) {}

QSettingsDefaultsStore::~QSettingsDefaultsStore() = default;

QString QSettingsDefaultsStore::fileName() const {
    return settings_->fileName();
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

std::optional<DefaultsValue> QSettingsDefaultsStore::object(std::string_view key) {
    // Another process (or the user) may have edited the file: pick that up. This re-reads the
    // file only when it changed and writes it only when a write of ours is still pending.
    settings_->sync();
    if (settings_->status() != QSettings::NoError)
        return std::nullopt;
    const QVariant value = settings_->value(keyOf(key));
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
            return inferFromText(value.toString());
        case QMetaType::QStringList: {
            std::vector<std::string> list;
            for (const auto& entry : value.toStringList())
                list.push_back(entry.toStdString());
            return list;
        }
        default:
            // Missing, or something only a hand edit could produce (a serialised Qt type): not a
            // value this store writes.
            return std::nullopt;
    }
}

void QSettingsDefaultsStore::write(std::string_view key, const QVariant& value) {
    settings_->setValue(keyOf(key), value);
    settings_->sync();
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
    if (list.empty()) {
        settings_->remove(keyOf(key));
        settings_->sync();
        return;
    }
    QStringList entries;
    for (const auto& entry : list)
        entries.append(QString::fromStdString(entry));
    write(key, entries);
}

}  // namespace sombrix

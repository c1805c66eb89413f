// The settings file is plain text the user (or anything running as the user) may edit: any
// bytes in it must read back as settings within their domain, through the store and the
// engine's readers exactly as the running program reads them.
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <cmath>

#include "engine/dim_controller.h"
#include "fakes/fake_platform.h"
#include "fuzz_input.h"
#include "fuzz_targets.h"
#include "platform/qt/qsettings_defaults_store.h"

namespace sombrix::fuzz::settings {

namespace {

// One directory for the whole run; each input gets a file of its own, because QSettings keeps
// what it parsed per file name and would otherwise answer from an earlier input.
QString directory() {
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/sombrix-fuzz-settings-XXXXXX"));
    return dir.path();
}

// The program reads its settings inside a running QApplication, and a value may name a GUI type
// (a pixmap, say) that only exists with one: read them under the same conditions.
void ensureApplication() {
    if (QCoreApplication::instance())
        return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "fuzz_settings";
    static char* argv[] = {name, nullptr};
    static QGuiApplication application(argc, argv);
}

}  // namespace

int fuzzOne(const std::uint8_t* data, std::size_t size) {
    ensureApplication();
    static unsigned serial = 0;
    const QString path = directory() + QStringLiteral("/%1.conf").arg(serial++);
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return 0;
        file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }

    {
        QSettingsDefaultsStore store(path);
        for (const auto key : {keys::kDimEnabled, keys::kDimStyle, keys::kDimStrength,
                               keys::kExcludedWindowClasses, keys::kUndimmedDisplays})
            store.object(key);

        fakes::FakePlatform fake;
        const DimController controller{fake.services(store)};
        controller.isEnabled();
        controller.fadeOnToggle();
        for (const auto& name : controller.undimmedDisplays())
            check(!name.empty(), "an empty display name in the list");
        controller.excludedWindowClasses();
        const auto style = controller.style();
        check(style == Style::black || style == Style::wallpaper, "a style outside the two looks");
        const double strength = controller.strength();
        check(std::isfinite(strength) && strength >= 0.1 && strength <= 1.0,
              "a strength outside 0.1 to 1.0");
    }
    QFile::remove(path);
    return 0;
}

}  // namespace sombrix::fuzz::settings

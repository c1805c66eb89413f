// Shows the settings window over the in-memory services and saves a picture of it; used to
// produce docs/images/settings.png under a private X server. Not a test.
#include <QApplication>
#include <QTimer>

#include "engine/dim_controller.h"
#include "fakes/fake_platform.h"
#include "settings/settings_model.h"
#include "settings/settings_window_controller.h"
#include "settings_fixture.h"

using namespace sombrix;
using namespace sombrix::fakes;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString output = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    const int lingerMs = argc > 2 ? QString::fromLocal8Bit(argv[2]).toInt() : 1500;

    FakePlatform fake;
    fake.displays.displays = {makeDisplay("DP-1", Rect{0, 0, 1280, 800}),
                              makeDisplay("HDMI-1", Rect{1280, 0, 1920, 1080})};
    fake.defaults.set(keys::kUndimmedDisplays, std::string("HDMI-1"));
    fake.defaults.set(keys::kExcludedWindowClasses, std::vector<std::string>{"mpv", "XLogo"});
    FakeWindowClasses windowClasses;
    fake.defaults.set(keys::kDimStrength, 0.65);
    FakeLoginItems loginItems;
    loginItems.enabled = true;
    FakeRelauncher relauncher;
    FakeUpdater updater;
    updater.lastCheck = 1'796'583'900.0;
    fake.ax.trusted =
        argc > 3 && QString::fromLocal8Bit(argv[3]) == QLatin1String("untrusted") ? false : true;

    DimController controller(fake.services());
    SettingsModel model(controller, updater,
                        SettingsServices{fake.ax, fake.wallpaper, loginItems, fake.workspace,
                                         relauncher, fake.defaults, fake.displays, windowClasses},
                        {});
    SettingsWindowController window(model, {});
    window.show();
    QTimer::singleShot(1000, [&] {
        if (!output.isEmpty()) {
            window.window()->grab().save(output);
        }
    });
    QTimer::singleShot(lingerMs, &app, &QCoreApplication::quit);
    return app.exec();
}

// The settings model over the real engine, which runs against the in-memory fakes, plus fakes of
// the login item, the relauncher and the updater that record what was asked of them.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "engine/dim_controller.h"
#include "fakes/fake_platform.h"
#include "platform/login_items.h"
#include "platform/relauncher.h"
#include "platform/updater.h"
#include "settings/settings_model.h"

namespace sombrix::fakes {

class FakeLoginItems : public LoginItems {
public:
    bool isEnabled() override { return enabled; }
    bool registerItem(std::string& error) override { return change(true, error); }
    bool unregisterItem(std::string& error) override { return change(false, error); }
    bool enabled = false;
    std::optional<std::string> failure;
    int calls = 0;

private:
    bool change(bool to, std::string& error) {
        ++calls;
        error = failure.value_or("");
        enabled = failure ? enabled : to;
        return !failure;
    }
};

class FakeRelauncher : public Relauncher {
public:
    bool startNewInstance() override {
        ++starts;
        return startSucceeds;
    }
    void quit() override { ++quits; }
    bool startSucceeds = true;
    int starts = 0;
    int quits = 0;
};

class FakeUpdater : public Updater {
public:
    bool automaticallyChecksForUpdates() const override { return automatic; }
    void setAutomaticallyChecksForUpdates(bool enabled) override {
        automatic = enabled;
        ++automaticWrites;
    }
    std::optional<TimePoint> lastUpdateCheckDate() const override { return lastCheck; }
    void checkForUpdates() override { ++checks; }
    bool automatic = true;
    int automaticWrites = 0;
    std::optional<TimePoint> lastCheck;
    int checks = 0;
};

class FakeWindowClasses : public WindowClasses {
public:
    std::vector<std::string> openWindowClasses() override { return classes; }
    std::vector<std::string> classes;
};

class SettingsTest : public ::testing::Test, protected FakePlatform {
protected:
    static constexpr std::int32_t kApp = 1001;

    SettingsTest() {
        displays.displays = {makeDisplay("main", Rect{0, 0, 1600, 900})};
        window(11, kApp, Rect{100, 100, 600, 400});
        focusOn(kApp, 11);
        ax.trusted = true;
        controller = std::make_unique<DimController>(services());
    }

    SettingsModel& makeModel() {
        model = std::make_unique<SettingsModel>(
            *controller, updater,
            SettingsServices{ax, wallpaper, loginItems, workspace, relauncher, defaults, displays,
                             windowClasses, links},
            [this] { ++onChangeCalls; });
        return *model;
    }

    std::optional<double> storedStrength() { return defaults.stored<double>(keys::kDimStrength); }

    ReleaseLinks links{"https://updates.example.org/appcast.xml", "https://example.org/",
                       "https://example.org/about", "https://example.org/docs#permissions"};
    FakeLoginItems loginItems;
    FakeRelauncher relauncher;
    FakeUpdater updater;
    FakeWindowClasses windowClasses;
    std::unique_ptr<DimController> controller;
    std::unique_ptr<SettingsModel> model;
    int onChangeCalls = 0;
};

}  // namespace sombrix::fakes

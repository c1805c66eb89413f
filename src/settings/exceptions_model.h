// What the "Exceptions" section edits: the window classes that are never dimmed and the
// displays left alone. Writes the store only when a choice changes it.
#pragma once

#include <QObject>
#include <string>
#include <vector>

#include "engine/dim_controller.h"
#include "platform/defaults_store.h"
#include "platform/displays.h"
#include "platform/window_classes.h"

namespace sombrix {

class ExceptionsModel : public QObject {
    Q_OBJECT
public:
    struct DisplayChoice {
        std::string name;
        bool dimmed = true;
        friend bool operator==(const DisplayChoice&, const DisplayChoice&) = default;
    };

    // All must outlive the model; `defaults` is the store the engine reads.
    ExceptionsModel(DimController& controller, DefaultsStore& defaults, Displays& displays,
                    WindowClasses& windowClasses, QObject* parent = nullptr);

    const std::vector<std::string>& excludedClasses() const { return excludedClasses_; }
    // Blanks around the name are dropped; an empty name, or one already listed in any letter
    // case, changes nothing.
    void addExcludedClass(const std::string& name);
    void removeExcludedClass(const std::string& name);
    // The classes of the windows open now that are not excluded yet.
    std::vector<std::string> classesToOffer();

    // The displays connected now, in the platform's order.
    const std::vector<DisplayChoice>& displays() const { return displays_; }
    // Names of displays that are not connected now stay in the stored list.
    void setDisplayDimmed(const std::string& name, bool dimmed);

    // Re-reads the store and the displays; emits changed() only when something differs.
    void sync();

signals:
    void changed();

private:
    DimController& controller_;
    DefaultsStore& defaults_;
    Displays& displayService_;
    WindowClasses& windowClasses_;
    std::vector<std::string> excludedClasses_;
    std::vector<DisplayChoice> displays_;
};

}  // namespace sombrix

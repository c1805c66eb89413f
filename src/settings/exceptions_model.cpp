// Exceptions: list edits against the stored lists, read afresh before each change so that an
// edit made elsewhere meanwhile is kept.
#include "settings/exceptions_model.h"

#include <QString>
#include <algorithm>

namespace sombrix {

namespace {

bool sameIgnoringCase(const std::string& a, const std::string& b) {
    return QString::fromStdString(a).compare(QString::fromStdString(b), Qt::CaseInsensitive) == 0;
}

bool listedIgnoringCase(const std::vector<std::string>& list, const std::string& name) {
    return std::any_of(list.begin(), list.end(),
                       [&](const std::string& entry) { return sameIgnoringCase(entry, name); });
}

}  // namespace

ExceptionsModel::ExceptionsModel(DimController& controller, DefaultsStore& defaults,
                                 Displays& displays, WindowClasses& windowClasses, QObject* parent)
    : QObject(parent),
      controller_(controller),
      defaults_(defaults),
      displayService_(displays),
      windowClasses_(windowClasses) {
    sync();
}

void ExceptionsModel::addExcludedClass(const std::string& name) {
    const std::string trimmed = QString::fromStdString(name).trimmed().toStdString();
    auto classes = controller_.excludedWindowClasses();
    if (trimmed.empty() || listedIgnoringCase(classes, trimmed)) {
        sync();
        return;
    }
    classes.push_back(trimmed);
    defaults_.setStringList(keys::kExcludedWindowClasses, classes);
    // The hole over a window of that class opens now rather than at the next tick.
    controller_.refresh();
    sync();
}

void ExceptionsModel::removeExcludedClass(const std::string& name) {
    auto classes = controller_.excludedWindowClasses();
    if (std::erase(classes, name) != 0) {
        defaults_.setStringList(keys::kExcludedWindowClasses, classes);
        controller_.refresh();
    }
    sync();
}

std::vector<std::string> ExceptionsModel::classesToOffer() {
    auto open = windowClasses_.openWindowClasses();
    const auto excluded = controller_.excludedWindowClasses();
    std::erase_if(open,
                  [&](const std::string& name) { return listedIgnoringCase(excluded, name); });
    return open;
}

void ExceptionsModel::setDisplayDimmed(const std::string& name, bool dimmed) {
    auto undimmed = controller_.undimmedDisplays();
    const bool listed = std::find(undimmed.begin(), undimmed.end(), name) != undimmed.end();
    if (listed == !dimmed) {
        sync();
        return;
    }
    if (dimmed)
        std::erase(undimmed, name);
    else
        undimmed.push_back(name);
    defaults_.setStringList(keys::kUndimmedDisplays, undimmed);
    controller_.displaySettingsChanged();
    sync();
}

void ExceptionsModel::sync() {
    auto classes = controller_.excludedWindowClasses();
    const auto undimmed = controller_.undimmedDisplays();
    std::vector<DisplayChoice> choices;
    for (const auto& display : displayService_.screens()) {
        const bool left =
            std::find(undimmed.begin(), undimmed.end(), display.name) != undimmed.end();
        choices.push_back({display.name, !left});
    }
    if (classes == excludedClasses_ && choices == displays_)
        return;
    excludedClasses_ = std::move(classes);
    displays_ = std::move(choices);
    emit changed();
}

}  // namespace sombrix

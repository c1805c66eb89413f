// The requests later launches pass to the running instance: what the running one does with each,
// and what the asking launch shows and returns.
#pragma once

#include <QString>
#include <optional>

#include "app/app_delegate.h"
#include "app/single_instance.h"

namespace sombrix {

// The running instance carries out `request` and says in one sentence what holds now.
QString handleRequest(InstanceRequest request, AppDelegate& delegate, DimController& controller,
                      Accessibility& accessibility);

// Whether the dim is on after `request` when it was `enabledNow`.
bool enabledAfter(InstanceRequest request, bool enabledNow);

// The asking launch: passes `request` (absent: open the settings) to the instance running on
// `display`, prints the outcome in one line and returns the exit status.
int askRunningInstance(SingleInstance& instance, const QString& display,
                       std::optional<InstanceRequest> request);

}  // namespace sombrix

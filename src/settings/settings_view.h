// The settings form: header, Dimming, Exceptions, Permissions, General, Updates and the footer
// links, redrawn from the model whenever one of its properties is assigned.
#pragma once

#include <QLocale>
#include <QString>
#include <QWidget>
#include <optional>

#include "platform/clock.h"

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QLabel;
class QPushButton;
class QSlider;

namespace sombrix {

class SettingsModel;

class SettingsView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 460;

    explicit SettingsView(SettingsModel& model, QWidget* parent = nullptr);

    // The strength as a whole percentage, halves rounded away from zero: 0.125 shows "13%".
    static QString percentText(double strength);
    // "Never" without a date; otherwise day, abbreviated month, year, hour and minute in the
    // order and style of `locale`.
    static QString lastCheckedText(std::optional<TimePoint> date, const QLocale& locale = {});

    // Brings every control in line with the model.
    void render();

protected:
    bool event(QEvent* event) override;

private:
    QWidget* buildHeader();
    QWidget* buildDimmingSection();
    QWidget* buildExceptionsSection();
    QWidget* buildPermissionSection();
    QWidget* buildGeneralSection();
    QWidget* buildUpdatesSection();
    QWidget* buildFooter();
    void remeasure();
    void fitHeight();

    SettingsModel& model_;

    QLabel* versionLabel_ = nullptr;
    QCheckBox* enabledToggle_ = nullptr;
    QWidget* stylePicker_ = nullptr;
    QButtonGroup* styleGroup_ = nullptr;
    QPushButton* blackButton_ = nullptr;
    QPushButton* wallpaperButton_ = nullptr;
    QWidget* strengthRow_ = nullptr;
    QSlider* strengthSlider_ = nullptr;
    QLabel* percentLabel_ = nullptr;
    QLabel* dimFooter_ = nullptr;
    QCheckBox* fadeToggle_ = nullptr;
    QLabel* opaqueVeilNote_ = nullptr;
    QLabel* saveProblem_ = nullptr;
    QWidget* screenGrantedRow_ = nullptr;
    QWidget* screenNeededBlock_ = nullptr;
    QWidget* accessibilityGrantedRow_ = nullptr;
    QWidget* accessibilityNeededRow_ = nullptr;
    QCheckBox* launchToggle_ = nullptr;
    QLabel* launchError_ = nullptr;
    QCheckBox* autoCheckToggle_ = nullptr;
    QLabel* lastCheckedValue_ = nullptr;
};

}  // namespace sombrix

// The rows of the "Exceptions" section: the window classes kept bright (typed, or picked from
// the windows open now) and one "Dim this display" check box per display.
#pragma once

#include <QWidget>
#include <string>
#include <vector>

class QCheckBox;
class QLineEdit;
class QListWidget;
class QMenu;
class QPushButton;
class QToolButton;
class QVBoxLayout;

namespace sombrix {

class ExceptionsModel;

class ExceptionsSection : public QWidget {
    Q_OBJECT
public:
    explicit ExceptionsSection(ExceptionsModel& model, QWidget* parent = nullptr);

    // Brings every control in line with the model.
    void render();

    // The menu of open windows' classes, filled afresh each time it opens.
    QMenu* openWindowsMenu() const { return openWindowsMenu_; }

private:
    void addTypedClass();
    void fillOpenWindowsMenu();
    void rebuildDisplayRows();

    ExceptionsModel& model_;
    QListWidget* classList_ = nullptr;
    QLineEdit* classEdit_ = nullptr;
    QPushButton* removeButton_ = nullptr;
    QToolButton* openWindowsButton_ = nullptr;
    QMenu* openWindowsMenu_ = nullptr;
    QVBoxLayout* displayRows_ = nullptr;
    std::vector<std::string> shownDisplays_;
    std::vector<QCheckBox*> displayToggles_;
};

}  // namespace sombrix

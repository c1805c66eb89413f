// The "Exceptions" rows in Qt Widgets.
#include "settings/exceptions_section.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>

#include "settings/exceptions_model.h"

namespace sombrix {

namespace {

// Enough rows to see a few entries; a longer list scrolls.
constexpr int kVisibleClassRows = 3;

}  // namespace

ExceptionsSection::ExceptionsSection(ExceptionsModel& model, QWidget* parent)
    : QWidget(parent), model_(model) {
    auto* rows = new QVBoxLayout(this);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(8);

    rows->addWidget(new QLabel(tr("Windows of these classes are never dimmed:"), this));
    classList_ = new QListWidget(this);
    classList_->setObjectName(QStringLiteral("excludedClasses"));
    classList_->setSelectionMode(QAbstractItemView::SingleSelection);
    classList_->setFixedHeight(classList_->fontMetrics().height() * kVisibleClassRows + 12);
    rows->addWidget(classList_);

    auto* edit = new QHBoxLayout;
    edit->setSpacing(6);
    classEdit_ = new QLineEdit(this);
    classEdit_->setPlaceholderText(tr("Class, e.g. mpv"));
    auto* add = new QPushButton(tr("Add"), this);
    add->setAutoDefault(false);
    openWindowsButton_ = new QToolButton(this);
    openWindowsButton_->setText(tr("Open Windows"));
    openWindowsButton_->setPopupMode(QToolButton::InstantPopup);
    openWindowsMenu_ = new QMenu(openWindowsButton_);
    openWindowsButton_->setMenu(openWindowsMenu_);
    removeButton_ = new QPushButton(tr("Remove"), this);
    removeButton_->setAutoDefault(false);
    edit->addWidget(classEdit_, 1);
    edit->addWidget(add);
    edit->addWidget(openWindowsButton_);
    edit->addWidget(removeButton_);
    rows->addLayout(edit);

    connect(add, &QPushButton::clicked, this, &ExceptionsSection::addTypedClass);
    connect(classEdit_, &QLineEdit::returnPressed, this, &ExceptionsSection::addTypedClass);
    connect(openWindowsMenu_, &QMenu::aboutToShow, this, &ExceptionsSection::fillOpenWindowsMenu);
    connect(classList_, &QListWidget::itemSelectionChanged, this,
            [this] { removeButton_->setEnabled(!classList_->selectedItems().isEmpty()); });
    connect(removeButton_, &QPushButton::clicked, this, [this] {
        if (const auto selected = classList_->selectedItems(); !selected.isEmpty())
            model_.removeExcludedClass(selected.front()->text().toStdString());
    });

    displayRows_ = new QVBoxLayout;
    displayRows_->setSpacing(6);
    rows->addLayout(displayRows_);

    connect(&model_, &ExceptionsModel::changed, this, &ExceptionsSection::render);
    render();
}

void ExceptionsSection::addTypedClass() {
    model_.addExcludedClass(classEdit_->text().toStdString());
    classEdit_->clear();
}

void ExceptionsSection::fillOpenWindowsMenu() {
    openWindowsMenu_->clear();
    const auto classes = model_.classesToOffer();
    if (classes.empty()) {
        openWindowsMenu_->addAction(tr("No other windows open"))->setEnabled(false);
        return;
    }
    for (const auto& name : classes) {
        connect(openWindowsMenu_->addAction(QString::fromStdString(name)), &QAction::triggered,
                this, [this, name] { model_.addExcludedClass(name); });
    }
}

void ExceptionsSection::rebuildDisplayRows() {
    // Later, not now: a row's own check box may be what asked for this.
    while (QLayoutItem* item = displayRows_->takeAt(0)) {
        item->widget()->hide();
        item->widget()->deleteLater();
        delete item;
    }
    displayToggles_.clear();
    shownDisplays_.clear();
    for (const auto& display : model_.displays()) {
        auto* row = new QWidget(this);
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(new QLabel(QString::fromStdString(display.name), row));
        layout->addStretch(1);
        auto* toggle = new QCheckBox(tr("Dim this display"), row);
        toggle->setObjectName(QString::fromStdString("dim:" + display.name));
        connect(toggle, &QCheckBox::toggled, this,
                [this, name = display.name](bool on) { model_.setDisplayDimmed(name, on); });
        layout->addWidget(toggle);
        displayRows_->addWidget(row);
        displayToggles_.push_back(toggle);
        shownDisplays_.push_back(display.name);
    }
}

void ExceptionsSection::render() {
    const auto& classes = model_.excludedClasses();
    QStringList texts;
    for (const auto& name : classes)
        texts.append(QString::fromStdString(name));
    QStringList shown;
    for (int i = 0; i < classList_->count(); ++i)
        shown.append(classList_->item(i)->text());
    if (shown != texts) {
        classList_->clear();
        classList_->addItems(texts);
    }
    removeButton_->setEnabled(!classList_->selectedItems().isEmpty());

    const auto& displays = model_.displays();
    std::vector<std::string> names;
    for (const auto& display : displays)
        names.push_back(display.name);
    if (names != shownDisplays_)
        rebuildDisplayRows();
    for (std::size_t i = 0; i < displays.size(); ++i) {
        const QSignalBlocker block(displayToggles_[i]);
        displayToggles_[i]->setChecked(displays[i].dimmed);
    }
}

}  // namespace sombrix

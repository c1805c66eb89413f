// The settings form in Qt Widgets.
#include "settings/settings_view.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QDateTime>
#include <QEvent>
#include <QFontDatabase>
#include <QFrame>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalBlocker>
#include <QSlider>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <vector>

#include "settings/exceptions_section.h"
#include "settings/settings_model.h"

namespace sombrix {

namespace {

constexpr int kSliderWidth = 180;
constexpr int kPercentWidth = 40;
// The slider is continuous for the user; a thousand positions are finer than a pixel at 180 px.
constexpr int kSliderScale = 1000;

const QColor kGreen(0x1f, 0x9d, 0x45);
const QColor kOrange(0xe0, 0x7b, 0x00);
const QColor kRed(0xd1, 0x1a, 0x2a);

enum class Symbol { checkmarkCircleFill, exclamationmarkTriangleFill };

QColor secondaryColor(const QWidget* w, qreal alpha = 0.6) {
    QColor c = w->palette().color(QPalette::WindowText);
    c.setAlphaF(alpha);
    return c;
}

void setTextColor(QLabel* label, const QColor& color) {
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, color);
    label->setPalette(p);
}

QFont scaledFont(const QWidget* w, qreal factor, QFont::Weight weight = QFont::Normal) {
    QFont f = w->font();
    if (f.pointSizeF() > 0) {
        f.setPointSizeF(f.pointSizeF() * factor);
    } else {
        f.setPixelSize(std::max(1, int(std::lround(f.pixelSize() * factor))));
    }
    f.setWeight(weight);
    return f;
}

QPixmap symbolPixmap(Symbol symbol, const QColor& color, int size, qreal dpr) {
    QPixmap pixmap(QSize(size, size) * dpr);
    pixmap.setDevicePixelRatio(dpr);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r(0.5, 0.5, size - 1.0, size - 1.0);
    QPen mark(Qt::white, size / 7.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    if (symbol == Symbol::checkmarkCircleFill) {
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        p.drawEllipse(r);
        p.setPen(mark);
        QPainterPath path;
        path.moveTo(r.left() + r.width() * 0.28, r.top() + r.height() * 0.52);
        path.lineTo(r.left() + r.width() * 0.44, r.top() + r.height() * 0.68);
        path.lineTo(r.left() + r.width() * 0.72, r.top() + r.height() * 0.34);
        p.setBrush(Qt::NoBrush);
        p.drawPath(path);
    } else {
        QPainterPath triangle;
        triangle.moveTo(r.center().x(), r.top() + 0.5);
        triangle.lineTo(r.right(), r.bottom() - 0.5);
        triangle.lineTo(r.left(), r.bottom() - 0.5);
        triangle.closeSubpath();
        p.setPen(QPen(color, 1.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(color);
        p.drawPath(triangle);
        p.setPen(mark);
        const qreal x = r.center().x();
        p.drawLine(QPointF(x, r.top() + r.height() * 0.38),
                   QPointF(x, r.top() + r.height() * 0.66));
        p.drawPoint(QPointF(x, r.top() + r.height() * 0.82));
    }
    return pixmap;
}

// A label with a leading symbol, both in one colour.
QWidget* symbolLabel(QWidget* parent, Symbol symbol, const QString& text, const QColor& color) {
    auto* box = new QWidget(parent);
    auto* layout = new QHBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(5);
    auto* icon = new QLabel(box);
    const int size = QFontMetrics(parent->font()).height() - 2;
    icon->setPixmap(symbolPixmap(symbol, color, size, parent->devicePixelRatioF()));
    auto* label = new QLabel(text, box);
    setTextColor(label, color);
    layout->addWidget(icon);
    layout->addWidget(label);
    return box;
}

QPixmap fallbackAppIcon(int size, qreal dpr) {
    // A dimmed desktop with one bright window: used when the application set no icon.
    QPixmap pixmap(QSize(size, size) * dpr);
    pixmap.setDevicePixelRatio(dpr);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient bg(0, 0, 0, size);
    bg.setColorAt(0, QColor(0x3a, 0x3f, 0x4b));
    bg.setColorAt(1, QColor(0x14, 0x16, 0x1c));
    p.setPen(Qt::NoPen);
    p.setBrush(bg);
    p.drawRoundedRect(QRectF(1, 1, size - 2, size - 2), size * 0.22, size * 0.22);
    const QRectF window(size * 0.22, size * 0.28, size * 0.56, size * 0.44);
    p.setBrush(QColor(0xf4, 0xf1, 0xe8));
    p.drawRoundedRect(window, size * 0.05, size * 0.05);
    p.setBrush(QColor(0xd9, 0xa4, 0x41));
    p.drawRect(QRectF(window.left(), window.top(), window.width(), size * 0.07));
    return pixmap;
}

QWidget* row(QWidget* parent, QWidget* label, QWidget* value) {
    auto* w = new QWidget(parent);
    auto* layout = new QHBoxLayout(w);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    if (label) {
        layout->addWidget(label);
    }
    layout->addStretch(1);
    if (value) {
        layout->addWidget(value);
    }
    return w;
}

QLabel* wrappingText(QWidget* parent, const QString& text) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeading | Qt::AlignTop);
    label->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Minimum);
    return label;
}

// A titled group: a small header above a rounded panel holding the rows.
struct Section {
    QWidget* widget;
    QVBoxLayout* rows;
};

Section section(QWidget* parent, const QString& title) {
    auto* outer = new QWidget(parent);
    auto* outerLayout = new QVBoxLayout(outer);
    outerLayout->setContentsMargins(0, 0, 0, 0);
    outerLayout->setSpacing(5);
    if (!title.isEmpty()) {
        auto* header = new QLabel(title, outer);
        header->setFont(scaledFont(parent, 1.0, QFont::DemiBold));
        header->setContentsMargins(6, 0, 0, 0);
        outerLayout->addWidget(header);
    }
    auto* panel = new QFrame(outer);
    panel->setObjectName(QStringLiteral("sectionPanel"));
    QColor fill = parent->palette().color(QPalette::Base);
    QColor border = parent->palette().color(QPalette::Mid);
    panel->setStyleSheet(QStringLiteral("QFrame#sectionPanel { background: %1; border: 1px solid "
                                        "%2; border-radius: 8px; }")
                             .arg(fill.name(), border.name()));
    auto* rows = new QVBoxLayout(panel);
    rows->setContentsMargins(12, 10, 12, 10);
    rows->setSpacing(10);
    outerLayout->addWidget(panel);
    return {outer, rows};
}

QString hostOf(const std::string& url) {
    return QUrl(QString::fromStdString(url)).host();
}

QLabel* linkLabel(QWidget* parent, const QString& url, const QString& text, SettingsModel& model) {
    QColor color = parent->palette().color(QPalette::WindowText);
    auto* label = new QLabel(
        QStringLiteral("<a href=\"%1\" style=\"color: %2; text-decoration: none;\">%3</a>")
            .arg(url.toHtmlEscaped(), color.name(), text.toHtmlEscaped()),
        parent);
    label->setTextFormat(Qt::RichText);
    label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    label->setOpenExternalLinks(false);
    label->setCursor(Qt::PointingHandCursor);
    QObject::connect(label, &QLabel::linkActivated, parent,
                     [&model](const QString& link) { model.openURL(link); });
    return label;
}

}  // namespace

SettingsView::SettingsView(SettingsModel& model, QWidget* parent) : QWidget(parent), model_(model) {
    setFixedWidth(kWidth);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 16, 20, 16);
    layout->setSpacing(16);
    layout->addWidget(buildHeader());
    layout->addWidget(buildDimmingSection());
    layout->addWidget(buildExceptionsSection());
    layout->addWidget(buildPermissionSection());
    layout->addWidget(buildGeneralSection());
    layout->addWidget(buildUpdatesSection());
    layout->addWidget(buildFooter());
    connect(&model_, &SettingsModel::changed, this, &SettingsView::render);
    render();
}

QString SettingsView::percentText(double strength) {
    return QString::number(std::llround(strength * 100.0)) + u'%';
}

QString SettingsView::lastCheckedText(std::optional<TimePoint> date, const QLocale& locale) {
    if (!date) {
        return tr("Never");
    }
    const QDateTime when =
        QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::llround(*date * 1000.0)));
    // The locale's long date keeps its field order; drop the weekday and shorten the month.
    QString format = locale.dateFormat(QLocale::LongFormat);
    static const QRegularExpression weekday(QStringLiteral("d{4}[,.]?\\s*"));
    format.remove(weekday);
    format.replace(QStringLiteral("MMMM"), QStringLiteral("MMM"));
    format = format.trimmed();
    // Hours and minutes only: some locales' short time format still carries seconds.
    QString timeFormat = locale.timeFormat(QLocale::ShortFormat);
    static const QRegularExpression seconds(QStringLiteral("[:.]ss?"));
    timeFormat.remove(seconds);
    const QString time = locale.toString(when.time(), timeFormat);
    return locale.toString(when.date(), format) + QStringLiteral(", ") + time;
}

QWidget* SettingsView::buildHeader() {
    auto [widget, rows] = section(this, {});
    auto* box = new QWidget(widget);
    auto* h = new QHBoxLayout(box);
    h->setContentsMargins(0, 4, 0, 4);
    h->setSpacing(14);
    auto* icon = new QLabel(box);
    icon->setFixedSize(56, 56);
    const QIcon appIcon = QApplication::windowIcon();
    icon->setPixmap(appIcon.isNull() ? fallbackAppIcon(56, devicePixelRatioF())
                                     : appIcon.pixmap(QSize(56, 56), devicePixelRatioF()));
    icon->setScaledContents(true);
    h->addWidget(icon, 0, Qt::AlignVCenter);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    auto* name = new QLabel(QStringLiteral("Sombrix"), box);
    name->setFont(scaledFont(this, 1.55, QFont::DemiBold));
    versionLabel_ = new QLabel(box);
    versionLabel_->setFont(scaledFont(this, 0.95));
    setTextColor(versionLabel_, secondaryColor(this));
    texts->addWidget(name);
    texts->addWidget(versionLabel_);
    h->addLayout(texts);
    h->addStretch(1);
    rows->addWidget(box);
    return widget;
}

QWidget* SettingsView::buildDimmingSection() {
    auto [widget, rows] = section(this, tr("Dimming"));

    enabledToggle_ = new QCheckBox(tr("Dim background windows"), widget);
    connect(enabledToggle_, &QCheckBox::toggled, this,
            [this](bool on) { model_.setIsEnabled(on); });
    rows->addWidget(enabledToggle_);

    stylePicker_ = new QWidget(widget);
    auto* segments = new QHBoxLayout(stylePicker_);
    segments->setContentsMargins(0, 0, 0, 0);
    segments->setSpacing(0);
    styleGroup_ = new QButtonGroup(stylePicker_);
    styleGroup_->setExclusive(true);
    blackButton_ = new QPushButton(tr("Black"), stylePicker_);
    wallpaperButton_ = new QPushButton(tr("Wallpaper"), stylePicker_);
    // Two joined buttons, the chosen one filled: a segmented control.
    const QString segment = QStringLiteral(
        "QPushButton { border: 1px solid palette(mid); background: palette(button); "
        "padding: 3px 14px; min-width: 70px; border-%1-radius: 5px; border-%2-radius: 5px; }"
        "QPushButton:checked { background: palette(highlight); color: palette(highlighted-text); "
        "border-color: palette(highlight); }"
        "QPushButton:disabled { color: palette(mid); }"
        "QPushButton:checked:disabled { background: palette(midlight); "
        "color: palette(window); border-color: palette(midlight); }");
    blackButton_->setStyleSheet(
        segment.arg(QStringLiteral("top-left"), QStringLiteral("bottom-left")));
    wallpaperButton_->setStyleSheet(
        segment.arg(QStringLiteral("top-right"), QStringLiteral("bottom-right")));
    for (QPushButton* b : {blackButton_, wallpaperButton_}) {
        b->setCheckable(true);
        b->setAutoDefault(false);
        b->setFocusPolicy(Qt::TabFocus);
        segments->addWidget(b);
    }
    styleGroup_->addButton(blackButton_);
    styleGroup_->addButton(wallpaperButton_);
    connect(styleGroup_, &QButtonGroup::buttonClicked, this, [this](QAbstractButton* b) {
        model_.setStyle(b == wallpaperButton_ ? Style::wallpaper : Style::black);
    });
    auto* backgroundRow = row(widget, new QLabel(tr("Background"), widget), nullptr);
    static_cast<QHBoxLayout*>(backgroundRow->layout())->addWidget(stylePicker_);
    rows->addWidget(backgroundRow);

    strengthSlider_ = new QSlider(Qt::Horizontal, widget);
    strengthSlider_->setRange(kSliderScale / 10, kSliderScale);
    strengthSlider_->setFixedWidth(kSliderWidth);
    connect(strengthSlider_, &QSlider::valueChanged, this,
            [this](int v) { model_.setStrength(double(v) / kSliderScale); });
    percentLabel_ = new QLabel(widget);
    percentLabel_->setFixedWidth(kPercentWidth);
    percentLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSizeF(font().pointSizeF() > 0 ? font().pointSizeF() : mono.pointSizeF());
    percentLabel_->setFont(mono);
    setTextColor(percentLabel_, secondaryColor(this));
    auto* value = new QWidget(widget);
    auto* valueLayout = new QHBoxLayout(value);
    valueLayout->setContentsMargins(0, 0, 0, 0);
    valueLayout->setSpacing(10);
    valueLayout->addWidget(strengthSlider_, 0, Qt::AlignVCenter);
    valueLayout->addWidget(percentLabel_, 0, Qt::AlignVCenter);
    strengthRow_ = row(widget, new QLabel(tr("Dim strength"), widget), value);
    rows->addWidget(strengthRow_);
    opaqueVeilNote_ = wrappingText(
        widget, tr("No compositor is running, so the veil is opaque whatever the strength. Start "
                   "one (picom, or your desktop's own) and the strength applies at once."));
    opaqueVeilNote_->setObjectName(QStringLiteral("opaqueVeilNote"));
    opaqueVeilNote_->setFont(scaledFont(this, 0.85));
    setTextColor(opaqueVeilNote_, kOrange);
    rows->addWidget(opaqueVeilNote_);

    fadeToggle_ = new QCheckBox(tr("Fade when switching on or off"), widget);
    connect(fadeToggle_, &QCheckBox::toggled, this,
            [this](bool on) { model_.setFadeOnToggle(on); });
    auto* fadeNote = wrappingText(
        widget, tr("Fading needs a compositor; without one the dim switches at once."));
    fadeNote->setFont(scaledFont(this, 0.85));
    setTextColor(fadeNote, secondaryColor(this));
    rows->addWidget(fadeToggle_);
    rows->addWidget(fadeNote);

    dimFooter_ = wrappingText(widget, {});
    dimFooter_->setFont(scaledFont(this, 0.85));
    dimFooter_->setContentsMargins(6, 0, 6, 0);
    setTextColor(dimFooter_, secondaryColor(this));
    widget->layout()->addWidget(dimFooter_);

    saveProblem_ = wrappingText(widget, {});
    saveProblem_->setObjectName(QStringLiteral("saveProblem"));
    saveProblem_->setFont(scaledFont(this, 0.85));
    saveProblem_->setContentsMargins(6, 0, 6, 0);
    setTextColor(saveProblem_, kRed);
    widget->layout()->addWidget(saveProblem_);
    return widget;
}

QWidget* SettingsView::buildExceptionsSection() {
    auto [widget, rows] = section(this, tr("Exceptions"));
    rows->addWidget(new ExceptionsSection(model_.exceptions(), widget));
    return widget;
}

QWidget* SettingsView::buildPermissionSection() {
    auto [widget, rows] = section(this, tr("Requirements"));

    screenGrantedRow_ = row(widget, new QLabel(tr("Wallpaper picture"), widget),
                            symbolLabel(widget, Symbol::checkmarkCircleFill, tr("Ready"), kGreen));
    rows->addWidget(screenGrantedRow_);

    screenNeededBlock_ = new QWidget(widget);
    auto* block = new QVBoxLayout(screenNeededBlock_);
    block->setContentsMargins(0, 2, 0, 2);
    block->setSpacing(8);
    block->addWidget(symbolLabel(widget, Symbol::exclamationmarkTriangleFill,
                                 tr("Wallpaper picture needed"), kOrange),
                     0, Qt::AlignLeading);
    auto* help = wrappingText(
        widget, tr("Sombrix shows the picture your wallpaper setter publishes (feh, nitrogen, "
                   "hsetroot) or your desktop draws. Set a wallpaper and Sombrix picks it up by "
                   "itself."));
    help->setFont(scaledFont(this, 0.85));
    setTextColor(help, secondaryColor(this));
    block->addWidget(help);
    auto* buttons = new QHBoxLayout;
    auto* grantScreen = new QPushButton(tr("Help…"), widget);
    auto* restart = new QPushButton(tr("Restart Sombrix"), widget);
    grantScreen->setObjectName(QStringLiteral("grantScreenRecording"));
    connect(grantScreen, &QPushButton::clicked, this, [this] { model_.requestScreenRecording(); });
    connect(restart, &QPushButton::clicked, this, [this] { model_.relaunch(); });
    buttons->addWidget(grantScreen);
    buttons->addWidget(restart);
    buttons->addStretch(1);
    block->addLayout(buttons);
    rows->addWidget(screenNeededBlock_);

    accessibilityGrantedRow_ =
        row(widget, new QLabel(tr("Window manager"), widget),
            symbolLabel(widget, Symbol::checkmarkCircleFill, tr("Ready"), kGreen));
    rows->addWidget(accessibilityGrantedRow_);

    auto* needed = new QWidget(widget);
    auto* neededText = new QVBoxLayout(needed);
    neededText->setContentsMargins(0, 0, 0, 0);
    neededText->setSpacing(4);
    neededText->addWidget(symbolLabel(widget, Symbol::exclamationmarkTriangleFill,
                                      tr("Window manager needed"), kOrange),
                          0, Qt::AlignLeading);
    auto* why = wrappingText(widget, tr("Sombrix needs a window manager that reports the "
                                        "active window. It starts dimming as soon as one runs."));
    neededText->addWidget(why);
    needed->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    auto* grantAccessibility = new QPushButton(tr("Help…"), widget);
    grantAccessibility->setObjectName(QStringLiteral("grantAccessibility"));
    connect(grantAccessibility, &QPushButton::clicked, this,
            [this] { model_.requestAccessibility(); });
    accessibilityNeededRow_ = new QWidget(widget);
    auto* neededRow = new QHBoxLayout(accessibilityNeededRow_);
    neededRow->setContentsMargins(0, 0, 0, 0);
    neededRow->setSpacing(10);
    neededRow->addWidget(needed, 1);
    neededRow->addWidget(grantAccessibility, 0, Qt::AlignVCenter);
    rows->addWidget(accessibilityNeededRow_);
    return widget;
}

QWidget* SettingsView::buildGeneralSection() {
    auto [widget, rows] = section(this, tr("General"));
    launchToggle_ = new QCheckBox(tr("Launch at login"), widget);
    // `clicked` fires for the user's flip only; the toggle then shows what the system reports.
    connect(launchToggle_, &QCheckBox::clicked, this, [this](bool wanted) {
        model_.setLaunchAtLogin(wanted);
        render();
    });
    rows->addWidget(launchToggle_);
    launchError_ = wrappingText(widget, {});
    launchError_->setFont(scaledFont(this, 0.85));
    setTextColor(launchError_, kRed);
    rows->addWidget(launchError_);
    return widget;
}

QWidget* SettingsView::buildUpdatesSection() {
    auto [widget, rows] = section(this, tr("Updates"));
    autoCheckToggle_ = new QCheckBox(tr("Automatically check for updates"), widget);
    connect(autoCheckToggle_, &QCheckBox::toggled, this,
            [this](bool on) { model_.setAutomaticallyChecksForUpdates(on); });
    rows->addWidget(autoCheckToggle_);
    lastCheckedValue_ = new QLabel(widget);
    setTextColor(lastCheckedValue_, secondaryColor(this));
    rows->addWidget(row(widget, new QLabel(tr("Last checked"), widget), lastCheckedValue_));
    auto* check = new QPushButton(tr("Check for Updates…"), widget);
    check->setAutoDefault(false);
    connect(check, &QPushButton::clicked, this, [this] { model_.checkForUpdates(); });
    rows->addWidget(row(widget, nullptr, check));
    if (!model_.checksForUpdates()) {
        // Without a feed every check would fail: say so once instead of offering them.
        for (int i = 0; i < rows->count(); ++i)
            rows->itemAt(i)->widget()->hide();
        rows->addWidget(wrappingText(widget, tr("This build does not check for updates.")));
    }
    return widget;
}

QWidget* SettingsView::buildFooter() {
    auto* footer = new QWidget(this);
    auto* h = new QHBoxLayout(footer);
    h->setContentsMargins(0, 0, 0, 0);
    h->setSpacing(6);
    const QFont small = scaledFont(this, 0.85);
    const ReleaseLinks& links = model_.links();
    // Only configured addresses are shown; without either the footer stays empty.
    std::vector<QLabel*> labels;
    if (ReleaseLinks::isConfigured(links.website)) {
        labels.push_back(linkLabel(footer, QString::fromStdString(links.website),
                                   hostOf(links.website), model_));
    }
    if (ReleaseLinks::isConfigured(links.credit)) {
        if (!labels.empty()) {
            auto* dot = new QLabel(QStringLiteral("\u00B7"), footer);
            setTextColor(dot, secondaryColor(this, 0.3));
            labels.push_back(dot);
        }
        labels.push_back(linkLabel(footer, QString::fromStdString(links.credit),
                                   tr("By %1").arg(hostOf(links.credit)), model_));
    }
    h->addStretch(1);
    for (QLabel* l : labels) {
        l->setFont(small);
        h->addWidget(l);
    }
    h->addStretch(1);
    footer->setVisible(!labels.empty());
    return footer;
}

void SettingsView::render() {
    const bool enabled = model_.isEnabled();
    const bool wallpaper = model_.style() == Style::wallpaper;
    const bool canCapture = model_.canCaptureWallpaper();
    const bool trusted = model_.isTrusted();
    const auto error = model_.launchAtLoginError();
    const bool layoutBefore[] = {
        screenGrantedRow_->isVisibleTo(this),        screenNeededBlock_->isVisibleTo(this),
        accessibilityGrantedRow_->isVisibleTo(this), launchError_->isVisibleTo(this),
        opaqueVeilNote_->isVisibleTo(this),          saveProblem_->isVisibleTo(this)};
    const QString footerBefore = dimFooter_->text();
    const QString problemBefore = saveProblem_->text();
    const QString errorBefore = launchError_->text();

    versionLabel_->setText(model_.version());
    {
        const QSignalBlocker block(enabledToggle_);
        enabledToggle_->setChecked(enabled);
    }
    (wallpaper ? wallpaperButton_ : blackButton_)->setChecked(true);
    stylePicker_->setEnabled(enabled);
    {
        const QSignalBlocker block(strengthSlider_);
        strengthSlider_->setValue(int(std::lround(model_.strength() * kSliderScale)));
    }
    percentLabel_->setText(percentText(model_.strength()));
    {
        const QSignalBlocker block(fadeToggle_);
        fadeToggle_->setChecked(model_.fadeOnToggle());
    }
    strengthRow_->setEnabled(enabled && !(wallpaper && canCapture));
    opaqueVeilNote_->setVisible(!model_.isCompositing() && !(wallpaper && canCapture));
    if (!wallpaper) {
        dimFooter_->setText(
            tr("The active window stays bright. On every other screen the topmost "
               "window stays bright. At 100% the background is fully black."));
    } else if (canCapture) {
        dimFooter_->setText(tr(
            "Only the active window is shown, on top of your wallpaper. On every other screen the "
            "topmost window stays visible. Moving wallpapers show as a still picture."));
    } else {
        dimFooter_->setText(
            tr("Wallpaper mode needs a wallpaper picture (see Requirements). Until "
               "then Sombrix dims with black."));
    }

    screenGrantedRow_->setVisible(wallpaper && canCapture);
    screenNeededBlock_->setVisible(wallpaper && !canCapture);
    accessibilityGrantedRow_->setVisible(trusted);
    accessibilityNeededRow_->setVisible(!trusted);

    {
        const QSignalBlocker block(launchToggle_);
        launchToggle_->setChecked(model_.launchAtLogin());
    }
    launchError_->setText(error.value_or(QString()));
    launchError_->setVisible(error.has_value());
    saveProblem_->setText(model_.saveProblem());
    saveProblem_->setVisible(!model_.saveProblem().isEmpty());

    {
        const QSignalBlocker block(autoCheckToggle_);
        autoCheckToggle_->setChecked(model_.automaticallyChecksForUpdates());
    }
    lastCheckedValue_->setText(lastCheckedText(model_.lastUpdateCheck()));

    const bool layoutAfter[] = {
        screenGrantedRow_->isVisibleTo(this),        screenNeededBlock_->isVisibleTo(this),
        accessibilityGrantedRow_->isVisibleTo(this), launchError_->isVisibleTo(this),
        opaqueVeilNote_->isVisibleTo(this),          saveProblem_->isVisibleTo(this)};
    if (!std::equal(std::begin(layoutBefore), std::end(layoutBefore), std::begin(layoutAfter)) ||
        footerBefore != dimFooter_->text() || errorBefore != launchError_->text() ||
        problemBefore != saveProblem_->text()) {
        remeasure();
    }
}

bool SettingsView::event(QEvent* event) {
    const bool handled = QWidget::event(event);
    // Fonts, style sheets and wrapped texts settle only when the widgets are polished and laid
    // out; the height must follow every such change, not just those render() sees.
    if (event->type() == QEvent::Show) {
        remeasure();
    } else if (event->type() == QEvent::LayoutRequest) {
        fitHeight();
    }
    return handled;
}

void SettingsView::remeasure() {
    // Layout items keep cached size hints that are renewed only by posted events; a row shown or
    // hidden a moment ago, or a font that polishing changed, must count now.
    for (QWidget* w : findChildren<QWidget*>()) {
        w->updateGeometry();
    }
    fitHeight();
}

void SettingsView::fitHeight() {
    // Wrapped texts make the height depend on the fixed width; ask the layout for exactly that.
    QLayout* l = layout();
    l->activate();
    const int height = l->hasHeightForWidth() ? l->heightForWidth(kWidth) : l->sizeHint().height();
    if (height != this->height() || minimumHeight() != height)
        setFixedHeight(height);
}

}  // namespace sombrix

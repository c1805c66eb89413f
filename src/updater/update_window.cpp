// The updater window.
#include "updater/update_window.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTextBrowser>
#include <QTextDocumentFragment>
#include <QVBoxLayout>

namespace sombrix::updater {

namespace {
// Enough for any real release notes; the rest of a hostile one is not worth laying out.
constexpr qsizetype kMaxNotesShown = 20000;
}  // namespace

UpdateWindow::UpdateWindow()
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint) {
    setWindowTitle(tr("Software Update"));
    setAttribute(Qt::WA_QuitOnClose, false);
    setMinimumWidth(420);
    openUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); };

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 18, 20, 16);
    layout->setSpacing(10);
    headline_ = new QLabel(this);
    QFont bold = font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.15);
    headline_->setFont(bold);
    message_ = new QLabel(this);
    message_->setWordWrap(true);
    message_->setTextFormat(Qt::PlainText);
    notes_ = new QTextBrowser(this);
    // Notes come from the network: shown as plain text, never followed or fetched.
    notes_->setOpenLinks(false);
    notes_->setOpenExternalLinks(false);
    notes_->setMinimumHeight(160);
    layout->addWidget(headline_);
    layout->addWidget(message_);
    layout->addWidget(notes_, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    download_ = new QPushButton(tr("Download…"), this);
    close_ = new QPushButton(tr("OK"), this);
    close_->setDefault(true);
    buttons->addWidget(download_);
    buttons->addWidget(close_);
    layout->addLayout(buttons);
    connect(close_, &QPushButton::clicked, this, &QWidget::close);
    connect(download_, &QPushButton::clicked, this, [this] {
        if (openUrl) {
            openUrl(downloadUrl_);
        }
        close();
    });
}

void UpdateWindow::showChecking() {
    showMessage(tr("Checking for updates…"), tr("Sombrix is reading the list of releases."),
                tr("Cancel"));
}

void UpdateWindow::showUpToDate(const QString& currentVersion) {
    showMessage(tr("You’re up to date!"),
                tr("Sombrix %1 is currently the newest version available.").arg(currentVersion),
                tr("OK"));
}

void UpdateWindow::showUpdate(const QString& newVersion, const QString& currentVersion,
                              const QString& releaseNotes, const QUrl& downloadUrl) {
    headline_->setText(tr("A new version of Sombrix is available!"));
    message_->setText(tr("Sombrix %1 is now available—you have %2. Download it from "
                         "the Sombrix web site and install it when you are ready.")
                          .arg(newVersion, currentVersion));
    QString plain = QTextDocumentFragment::fromHtml(releaseNotes).toPlainText().trimmed();
    if (plain.size() > kMaxNotesShown) {
        plain = plain.left(kMaxNotesShown) + QStringLiteral("…");
    }
    notes_->setPlainText(plain);
    notes_->setVisible(!plain.isEmpty());
    downloadUrl_ = downloadUrl;
    download_->show();
    close_->setText(tr("Later"));
    present();
}

void UpdateWindow::showError(const QString& message) {
    showMessage(tr("Update Error"), message, tr("OK"));
}

QString UpdateWindow::headline() const {
    return headline_->text();
}
QString UpdateWindow::message() const {
    return message_->text();
}
QString UpdateWindow::releaseNotes() const {
    return notes_->toPlainText();
}

void UpdateWindow::showMessage(const QString& headline, const QString& message,
                               const QString& closeTitle) {
    headline_->setText(headline);
    message_->setText(message);
    notes_->clear();
    notes_->hide();
    download_->hide();
    downloadUrl_ = QUrl();
    close_->setText(closeTitle);
    present();
}

void UpdateWindow::present() {
    adjustSize();
    show();
    raise();
    activateWindow();
}

void UpdateWindow::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    emit dismissed();
}

}  // namespace sombrix::updater

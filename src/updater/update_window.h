// The updater's own window: up to date, a new version with its notes and a download link, or an
// error. It never downloads or installs anything itself.
#pragma once

#include <QUrl>
#include <QWidget>
#include <functional>

class QLabel;
class QPushButton;
class QTextBrowser;

namespace sombrix::updater {

class UpdateWindow : public QWidget {
    Q_OBJECT
public:
    UpdateWindow();

    void showChecking();
    void showUpToDate(const QString& currentVersion);
    void showUpdate(const QString& newVersion, const QString& currentVersion,
                    const QString& releaseNotes, const QUrl& downloadUrl);
    void showError(const QString& message);

    QString headline() const;
    QString message() const;
    QString releaseNotes() const;
    QUrl downloadUrl() const { return downloadUrl_; }

    // Opens the download page through the desktop; replaceable in tests.
    std::function<void(const QUrl&)> openUrl;

signals:
    // The user dealt with the window (closed it, or chose to download).
    void dismissed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // A headline and a message without release notes or a download button.
    void showMessage(const QString& headline, const QString& message, const QString& closeTitle);
    void present();

    QLabel* headline_;
    QLabel* message_;
    QTextBrowser* notes_;
    QPushButton* download_;
    QPushButton* close_;
    QUrl downloadUrl_;
};

}  // namespace sombrix::updater

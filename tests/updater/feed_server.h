// A tiny HTTP server on 127.0.0.1 for the updater's tests: answers every request the way the
// test chose, including slowly or with far too much.
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

class FeedServer : public QTcpServer {
public:
    enum class Mode { respond, drip, flood };

    FeedServer() {
        listen(QHostAddress::LocalHost, 0);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    request_ += socket->readAll();
                    if (request_.contains("\r\n\r\n")) {  // the request's head is complete
                        request_.clear();
                        answer(socket);
                    }
                });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }

    QUrl url() const {
        return QUrl(QStringLiteral("http://127.0.0.1:%1/appcast.xml").arg(serverPort()));
    }

    Mode mode = Mode::respond;
    int status = 200;
    QByteArray body;
    int requests = 0;

private:
    void answer(QTcpSocket* socket) {
        ++requests;
        switch (mode) {
            case Mode::respond:
                socket->write("HTTP/1.1 " + QByteArray::number(status) +
                              " X\r\nContent-Type: application/rss+xml\r\nContent-Length: " +
                              QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" +
                              body);
                break;
            case Mode::drip: {
                // One byte every 50 ms: never silent long enough for an idle timeout.
                socket->write("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n<");
                auto* timer = new QTimer(socket);
                connect(timer, &QTimer::timeout, socket, [socket] { socket->write(" "); });
                timer->start(50);
                return;
            }
            case Mode::flood:
                // No length announced: the client must stop reading by itself.
                socket->write("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n<rss>");
                for (int i = 0; i < 40; ++i)
                    socket->write(QByteArray(64 * 1024, 'x'));
                break;
        }
        socket->disconnectFromHost();
    }

    QByteArray request_;
};

// The least a Qt program that must look at something four times a second can cost: a Widgets
// application on the X server with one 0.25-s timer that does nothing, and no window. bench_floors
// runs it beside the server and measures it as bench_idle measures sombrix.
#include <QApplication>
#include <QTimer>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [] {});
    tick.start(250);
    return app.exec();
}

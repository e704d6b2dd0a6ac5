// A bare Qt Widgets window of a few labels and buttons, about what the
// recorder's window shows, so that the recorder's memory can be compared with
// what Qt itself costs on the same platform plugin. Quits after the seconds
// given (default 60).
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <cstdlib>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QWidget window;
    window.setWindowTitle("Bare window");
    auto* layout = new QVBoxLayout(&window);
    auto* group = new QGroupBox("Connection");
    auto* inner = new QVBoxLayout(group);
    inner->addWidget(new QPushButton("Connect"));
    inner->addWidget(new QPushButton("Disconnect"));
    layout->addWidget(group);
    layout->addWidget(new QPushButton("Start"));
    layout->addWidget(new QPushButton("Stop"));
    layout->addWidget(new QPushButton("Set File"));
    layout->addWidget(new QCheckBox("Overwrite"));
    layout->addWidget(new QLabel("Status"));
    window.show();
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    QTimer::singleShot(seconds * 1000, &application, &QApplication::quit);
    return application.exec();
}

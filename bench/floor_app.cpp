// floor_app: the least a Qt Widgets program with as many widgets as the
// panel's window can do to start up and say something on the network. It
// builds a window of the panel's size with the given numbers of frames, text
// boxes, labels, buttons, radio buttons and sliders (the frames holding the
// rest, as in the panel), shows it, and sends one 2-byte datagram to
// 127.0.0.1:<port> right after show(), as the panel sends its contrast right
// after showing its window. Then it idles in the event loop until SIGTERM.
//
// The start-up and idle benchmarks measure it beside the panel as their floor.

#include <QApplication>
#include <QGroupBox>
#include <QHostAddress>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QUdpSocket>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

int main(int argc, char *argv[])
{
    std::map<std::string, int> counts = {{"frames", 10}, {"boxes", 7},   {"labels", 5},  {"buttons", 11},
                                         {"radios", 4},  {"sliders", 2}, {"port", 37829}};
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strncmp(argv[i], "--", 2) != 0 || !counts.count(argv[i] + 2)) {
            std::fprintf(stderr, "floor_app: unknown option %s\n", argv[i]);
            return 2;
        }
        counts[argv[i] + 2] = std::atoi(argv[i + 1]);
    }

    QApplication application(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion")); // the panel's style

    QWidget window;
    window.setWindowTitle(QStringLiteral("floor"));
    window.setFixedSize(311, 380);

    std::vector<QWidget *> frames;
    for (int i = 0; i < counts["frames"]; ++i) {
        auto *frame = new QGroupBox(QStringLiteral("Frame %1").arg(i), &window);
        frame->setGeometry(4 + (i % 2) * 154, 2 + (i / 2) * 74, 150, 72);
        frames.push_back(frame);
    }
    // Each control goes into the next frame in turn (the window when there is
    // none), one row below the controls already there.
    int placed = 0;
    const int perRow = int(std::max<std::size_t>(1, frames.size()));
    const auto place = [&](QWidget *control) {
        control->setGeometry(6, 16 + (placed / perRow) * 18, 120, 18);
        ++placed;
    };
    const auto nextParent = [&]() -> QWidget * {
        return frames.empty() ? &window : frames[std::size_t(placed) % frames.size()];
    };
    for (int i = 0; i < counts["boxes"]; ++i)
        place(new QLineEdit(QStringLiteral("12.34"), nextParent()));
    for (int i = 0; i < counts["labels"]; ++i)
        place(new QLabel(QStringLiteral("Label %1").arg(i), nextParent()));
    for (int i = 0; i < counts["buttons"]; ++i)
        place(new QPushButton(QStringLiteral("Button %1").arg(i), nextParent()));
    for (int i = 0; i < counts["radios"]; ++i)
        place(new QRadioButton(QStringLiteral("R%1").arg(i), nextParent()));
    for (int i = 0; i < counts["sliders"]; ++i) {
        auto *slider = new QSlider(Qt::Horizontal, nextParent());
        slider->setRange(0, 99);
        place(slider);
    }

    window.show();

    QUdpSocket socket;
    const char datagram[2] = {0x63, 80};
    if (socket.writeDatagram(datagram, 2, QHostAddress(QHostAddress::LocalHost), quint16(counts["port"])) != 2)
        std::fprintf(stderr, "floor_app: send failed: %s\n", qPrintable(socket.errorString()));

    return QApplication::exec();
}

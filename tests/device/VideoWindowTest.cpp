#include "platform/video/device/VideoWindow.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// Stands for the panel's keys: an application filter installed before the window, which
// turns Escape into 停止.
struct EscapeCounter : QObject {
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress
            && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape)
            ++stops;
        return false;
    }
    int stops = 0;
};

// The picture's shape under the sizes the device sets and the sizes a person makes, on a red
// 16:9 frame, on the 800x800 offscreen screen.
TEST(DeviceWindow, SetSizesFillHandSizesKeepTheShapeWithBlackBars)
{
    EscapeCounter keys;
    qApp->installEventFilter(&keys);
    const QImage red = [] {
        QImage image(320, 180, QImage::Format_RGB32);
        image.fill(Qt::red);
        return image;
    }();
    video::VideoWindow window([&red]() -> const QImage & { return red; });
    const QRect screen = window.screen()->geometry();
    // A maximised window keeps the frame offscreen fakes, 2 pixels a side; full screen has none.
    const QRect maximised = window.screen()->availableGeometry().adjusted(2, 2, -2, -2);
    auto shown = [&] {
        QCoreApplication::processEvents();
        const QImage shot = window.grab().toImage();
        const QRect p = window.pictureRect();
        // Inside the picture red, outside it black, at the four sides.
        const bool inside = shot.pixelColor(p.center()) == Qt::red
                            && shot.pixelColor(p.topLeft() + QPoint(1, 1)) == Qt::red;
        const QPoint outside[] = {{p.left() - 2, p.center().y()}, {p.center().x(), p.top() - 2},
                                  {p.right() + 2, p.center().y()}, {p.center().x(), p.bottom() + 2}};
        bool bars = true;
        for (const QPoint &point : outside)
            if (shot.rect().contains(point))
                bars = bars && shot.pixelColor(point) == Qt::black;
        return inside && bars;
    };

    struct Row {
        const char *what;
        std::function<void()> act;
        QRect picture; // in the window
    };
    const std::vector<Row> rows = {
        {"set 16:9", [&] { window.place({100, 100, 320, 180}); window.show(); }, {0, 0, 320, 180}},
        // S, M and L may set another shape than the frame's: it fills exactly all the same.
        {"set 4:3", [&] { window.place({100, 100, 320, 240}); }, {0, 0, 320, 240}},
        {"by hand, square", [&] { window.resize(400, 400); }, {0, 50, 400, 300}},
        {"by hand, wide", [&] { window.resize(900, 300); }, {250, 0, 400, 300}},
        {"maximised", [&] { window.showMaximized(); }, {0, 99, 796, 597}},
        {"set while maximised", [&] { window.place({10, 20, 640, 360}); }, {0, 0, 640, 360}},
        {"double-click", [&] { QTest::mouseDClick(&window, Qt::LeftButton); }, {0, 175, 800, 450}},
        {"Escape", [&] { QTest::keyClick(&window, Qt::Key_Escape); }, {0, 0, 640, 360}},
        {"F", [&] { QTest::keyClick(&window, Qt::Key_F); }, {0, 175, 800, 450}},
        {"F again", [&] { QTest::keyClick(&window, Qt::Key_F); }, {0, 0, 640, 360}},
        {"full screen, then set", [&] { window.toggleFullScreen(); window.place({30, 40, 160, 90}); },
         {0, 0, 160, 90}},
    };
    const std::vector<QRect> windows = {
        {100, 100, 320, 180}, {100, 100, 320, 240}, {100, 100, 400, 400}, {100, 100, 900, 300},
        maximised, {10, 20, 640, 360}, screen, {10, 20, 640, 360}, screen, {10, 20, 640, 360},
        {30, 40, 160, 90}};
    for (size_t i = 0; i < rows.size(); ++i) {
        rows[i].act();
        QCoreApplication::processEvents();
        EXPECT_EQ(window.geometry(), windows[i]) << rows[i].what;
        EXPECT_EQ(window.pictureRect(), rows[i].picture) << rows[i].what;
        EXPECT_TRUE(shown()) << rows[i].what;
    }
    // Escape only left full screen; out of it, Escape goes on to the panel's keys.
    EXPECT_EQ(keys.stops, 0);
    QTest::keyClick(&window, Qt::Key_Escape);
    EXPECT_EQ(keys.stops, 1);
    qApp->removeEventFilter(&keys);
}

} // namespace

#pragma once

#include <QImage>
#include <QWidget>

#include <functional>

namespace video {

// The device's own top-level window: the current frame, scaled smoothly.
//
// At the size the device set ("put window", or the picture's size at open) the frame fills it
// exactly. Any other size - a resize by hand, a maximise, full screen - keeps the shape of that
// size, centred, with black bars on the sides or above and below. A double-click or F toggles
// full screen on the screen the window is on; Escape leaves full screen and goes no further
// (taken ahead of everything else while full screen, so it stops nothing).
//
// Its close box only hides it; the device stays open and the next "put" or "play" shows it
// again. It never quits the application and does not take the focus when shown, so the
// panel keeps the keyboard.
class VideoWindow : public QWidget {
    Q_OBJECT
public:
    // `picture` is asked for the frame at each paint.
    explicit VideoWindow(std::function<const QImage &()> picture);
    ~VideoWindow() override;

    // Where the device puts it: out of full screen or a maximise first, so the size it sets is
    // the size it gets; that size is the picture's shape from now on.
    void place(const QRect &geometry);
    // Where the picture goes inside the window.
    QRect pictureRect() const;
    void toggleFullScreen();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    std::function<const QImage &()> m_picture;
    QSize m_shape;
};

} // namespace video

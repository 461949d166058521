#pragma once

#include <QImage>
#include <QWidget>

#include <functional>

namespace video {

// The device's own top-level window: the current frame, scaled smoothly to fill it.
//
// Its close box only hides it; the device stays open and the next "put" or "play" shows it
// again. It never quits the application and does not take the focus when shown, so the
// panel keeps the keyboard.
class VideoWindow : public QWidget {
    Q_OBJECT
public:
    // `picture` is asked for the frame at each paint.
    explicit VideoWindow(std::function<const QImage &()> picture);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    std::function<const QImage &()> m_picture;
};

} // namespace video

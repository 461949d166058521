#pragma once

#include <QImage>
#include <QWidget>

// A picture box whose drawing surface is a persistent image: what is drawn into the image
// stays, is repainted from it, and is what gets copied and saved. The image is lent to the
// multimedia layer under a handle (the "hdc" of an update command) for the box's lifetime.
class PictureBox : public QWidget {
    Q_OBJECT
public:
    explicit PictureBox(QWidget *parent);
    ~PictureBox() override;

    // Place and size the box in twips inside its window. A new size gets a new, blank image;
    // the same size keeps what the image holds.
    void setTwipsGeometry(double left, double top, double width, double height);

    // The drawing handle of the persistent image, never 0.
    quint32 hDC() const { return m_handle; }
    const QImage &image() const { return m_image; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QImage m_image;
    quint32 m_handle = 0;
};

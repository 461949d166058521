#pragma once

#include <QLabel>

// An instruction line of the help window: plain text wrapped inside its rectangle, one line
// of text every em. The lines were laid out for a font whose lines are one em apart; the
// Japanese fonts installed here add space above and below each line, which would push the
// last line of the longer instructions out of its rectangle.
class HelpLine : public QLabel {
    Q_OBJECT
public:
    HelpLine(const QString &text, QWidget *parent);

    // The height the wrapped text needs at the label's width, in pixels.
    int neededHeight() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int linePitch() const;
    template <typename Visit> int layOut(Visit visit) const;
};

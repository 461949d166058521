#pragma once

#include "platform/windowing/Twips.h"

#include <QWidget>

class HelpLine;
class QFrame;
class QLabel;

// The help window "Kurimo　ヘルプ": one static page with the program's name, three pictures
// and the instruction lines. Nothing on it reacts to the mouse or the keyboard. One shared
// instance, created on first use and kept; its close box only hides it.
class Form2 : public QWidget {
    Q_OBJECT
public:
    // The shared instance, created when there is none.
    static Form2 *instance();
    // The shared instance, or nullptr before the first use.
    static Form2 *existing();

    // About block.
    QLabel *Label14 = nullptr;
    QLabel *Label20 = nullptr;
    QLabel *Label15 = nullptr;
    QLabel *Label16 = nullptr;
    QLabel *Label19 = nullptr;
    QLabel *Label18 = nullptr;
    QFrame *Shape1 = nullptr;
    QLabel *Label17 = nullptr;
    // Pictures and their headings.
    QLabel *Label12 = nullptr;
    QLabel *Image1 = nullptr;
    QLabel *Label13 = nullptr;
    QLabel *Image3 = nullptr;
    QLabel *Image2 = nullptr;
    // Instruction lines, top to bottom.
    HelpLine *Label22 = nullptr;
    HelpLine *Label1 = nullptr;
    HelpLine *Label6 = nullptr;
    HelpLine *Label2 = nullptr;
    HelpLine *Label3 = nullptr;
    HelpLine *Label4 = nullptr;
    HelpLine *Label21 = nullptr;
    HelpLine *Label5 = nullptr;
    HelpLine *Label7 = nullptr;
    HelpLine *Label8 = nullptr;
    HelpLine *Label9 = nullptr;
    HelpLine *Label10 = nullptr;
    HelpLine *Label11 = nullptr;

    // The window's outer position and size in twips.
    windowing::FormGeometry geometry;

private:
    Form2();
    // The steps of building the page, in the order its controls stack.
    void setUpWindow();
    void addPictures();
    void addAboutBlock();
    void addInstructions();
    QLabel *addLabel(const char *name, const QString &text, double left, double top,
                     double width, double height);
    QLabel *addImage(const char *name, const QString &resource, double left, double top,
                     double width, double height);
};

#pragma once

#include <QString>
#include <functional>
#include <optional>

class QWidget;

namespace windowing {

// Stand-in for the common file dialog: a title, a filter of "description|pattern" pairs
// (several pairs allowed, all joined by "|"), a file name, and a modal open or save show.
// After a cancel the file name is empty. For a save, the file name set before the show is
// the name the dialog proposes. An open dialog starts in the folder of the file last chosen in
// one and on the entry last chosen (by its description), also after a restart: both are kept
// in the user's settings (~/.config/kurimo/kurimo.conf) once a file is chosen.
class CommonDialog {
public:
    enum class Mode { Open, Save };

    // What a responder is asked; tests answer it without a person.
    struct Request {
        Mode mode = Mode::Open;
        QString title;
        QString filter;
        QString presetFileName;
        QString folder;       // where an open dialog starts
        QString filterEntry;  // the entry it starts on, by description; empty for the first
        QString chosenEntry;  // a responder may say which entry the file was chosen with
    };
    // Returns the chosen path, or an empty text for a cancel.
    using Responder = std::function<QString(Request &)>;

    void setDialogTitle(const QString &title) { m_title = title; }
    QString dialogTitle() const { return m_title; }
    void setFilter(const QString &filter) { m_filter = filter; }
    QString filter() const { return m_filter; }
    void setFileName(const QString &name) { m_fileName = name; }
    QString fileName() const { return m_fileName; }

    void showOpen(QWidget *parent = nullptr);
    void showSave(QWidget *parent = nullptr);

    // The next show returns at once with this path, as if the person had chosen it: a file
    // named on the command line or dropped on a window goes through the same handler.
    void answerNextShow(const QString &path) { m_nextAnswer = path; }

    // Tests: answer every dialog with this function; an empty one brings the real dialog back.
    static void setResponder(Responder responder);

    // "(*.AVI)|*.avi" as Qt writes filters: "(*.AVI) (*.avi)".
    static QString toQtFilter(const QString &filter);
    // The entry of a filter whose description is `description`, as Qt writes it; empty if none.
    static QString qtFilterEntry(const QString &filter, const QString &description);

private:
    void show(Mode mode, QWidget *parent);

    QString m_title;
    QString m_filter;
    QString m_fileName;
    std::optional<QString> m_nextAnswer;
};

} // namespace windowing

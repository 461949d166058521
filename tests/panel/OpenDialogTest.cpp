#include "platform/windowing/CommonDialog.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

using windowing::CommonDialog;

const QString kFilter = QStringLiteral("(*.AVI)|*.avi|動画ファイル|*.mp4;*.mpg|すべてのファイル|*");

// The real dialog, answered by a person played by a timer: what it starts with, then the
// entry and the file that person chooses (an empty file is a cancel).
struct Person {
    QString entry;
    QString file;
};
struct Start {
    QString folder;
    QString entry;
};

Start show(CommonDialog &dialog, const Person &person)
{
    Start start;
    QTimer::singleShot(0, [&person, &start] {
        auto *shown = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        ASSERT_NE(shown, nullptr);
        start = {shown->directory().absolutePath(), shown->selectedNameFilter()};
        if (person.file.isEmpty()) {
            shown->reject();
            return;
        }
        shown->selectNameFilter(person.entry);
        shown->selectFile(person.file);
        static_cast<QDialog *>(shown)->accept();
    });
    dialog.setFilter(kFilter);
    dialog.showOpen();
    return start;
}

// Where the open dialog starts: where the last file was chosen, on the entry it was chosen
// with, kept in the settings file so a new run starts there too; a cancel changes nothing.
TEST(OpenDialogMemory, StartsWhereTheLastFileWasChosen)
{
    QSettings(QStringLiteral("kurimo"), QStringLiteral("kurimo")).clear();
    QTemporaryDir dir;
    for (const char *name : {"a/clip.mp4", "b/notes.txt"}) {
        QDir(dir.path()).mkpath(QFileInfo(dir.filePath(name)).path());
        QFile(dir.filePath(name)).open(QIODevice::WriteOnly);
    }
    const QString a = dir.filePath("a"), b = dir.filePath("b");
    const QString avi = "(*.AVI) (*.avi)", video = "動画ファイル (*.mp4 *.mpg)",
                  any = "すべてのファイル (*)";

    struct Row {
        Person person;
        Start start;
    };
    std::vector<Row> rows = {
        {{video, a + "/clip.mp4"}, {QDir::currentPath(), avi}},
        {{any, ""}, {a, video}}, // cancelled: remembers nothing
        {{any, b + "/notes.txt"}, {a, video}},
        {{avi, ""}, {b, any}},
    };
    for (Row &row : rows) {
        CommonDialog dialog; // a new one each time, as after a restart
        const Start start = show(dialog, row.person);
        EXPECT_EQ(start.folder, row.start.folder) << row.person.file.toStdString();
        EXPECT_EQ(start.entry, row.start.entry) << row.person.file.toStdString();
        EXPECT_EQ(dialog.fileName(), row.person.file);
    }
    // On disk for the next run.
    QSettings settings(QStringLiteral("kurimo"), QStringLiteral("kurimo"));
    settings.sync();
    QFile file(settings.fileName());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains(b.toUtf8()));

    // A folder that has gone is no place to start.
    QDir(b).removeRecursively();
    CommonDialog dialog;
    const Start gone = show(dialog, {avi, ""});
    EXPECT_EQ(gone.folder, QDir::currentPath());
    EXPECT_EQ(gone.entry, any);
    settings.clear();
}

} // namespace

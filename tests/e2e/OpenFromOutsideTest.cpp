#include "shell/FileDrop.h"
#include "tests/support/AviCorpus.h"
#include "tests/support/RealLayerFixture.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>

namespace {

// A file named on the command line or dropped on a window, in front of the real layer: it
// goes through the file button's handler as a dialog choice would.
class OpenFromOutside : public RealLayerFixture {
protected:
    void SetUp() override
    {
        RealLayerFixture::SetUp();
        // The dialog must never be asked: a file from outside answers it.
        windowing::CommonDialog::setResponder([this](const windowing::CommonDialog::Request &) {
            ++dialogsShown;
            return QString();
        });
        QString error;
        const QString source = AviCorpus::file(AviCorpus::Kind::Mjpeg, &error);
        ASSERT_FALSE(source.isEmpty()) << error.toStdString();
        ASSERT_TRUE(dir.isValid());
        clip = dir.filePath(QStringLiteral("a clip.avi"));
        other = dir.filePath(QStringLiteral("another clip.avi"));
        ASSERT_TRUE(QFile::copy(source, clip));
        ASSERT_TRUE(QFile::copy(source, other));
    }

    // Drags `urls` onto `window` and drops them there; true when the window took them.
    bool drop(QWidget *window, const QList<QUrl> &urls)
    {
        QMimeData data;
        data.setUrls(urls);
        const QPoint middle = window->rect().center();
        QDragEnterEvent enter(middle, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window, &enter);
        if (!enter.isAccepted())
            return false;
        QDropEvent dropped(middle, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window, &dropped);
        QCoreApplication::processEvents();
        return dropped.isAccepted();
    }

    QWidget *videoWindow() const
    {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (w->isVisible() && w->windowTitle() == QFileInfo(panel.MediaPath).fileName())
                return w;
        }
        return nullptr;
    }

    QTemporaryDir dir;
    QString clip;
    QString other;
    int dialogsShown = 0;
    FileDrop fileDrop{panel};
};

TEST_F(OpenFromOutside, ARelativeNameOpensTheWholePathAndABadOneLeavesNoMedia)
{
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    openAsIfChosen(panel, QStringLiteral("./a clip.avi"));
    QDir::setCurrent(before);
    EXPECT_EQ(panel.DeviceError, 0) << layerErrors.join('\n').toStdString();
    EXPECT_EQ(panel.MediaPath, clip);
    EXPECT_TRUE(panel.Command1->isEnabled());
    EXPECT_EQ(interpreter.openDevices(), QStringList{clip});

    // A path that cannot be played after a good one: the layer's box, the beep and the
    // panel's own box, as for a bad choice in the dialog, and the panel is locked again.
    const QString missing = dir.filePath(QStringLiteral("no such.avi"));
    openAsIfChosen(panel, missing);
    EXPECT_EQ(panel.MediaPath, missing);
    EXPECT_EQ(panel.DeviceError, -1);
    EXPECT_FALSE(panel.Command1->isEnabled());
    EXPECT_FALSE(panel.Slider1->isEnabled());
    EXPECT_EQ(layerErrors.size(), 1);
    ASSERT_EQ(messages.events.size(), 2u);
    EXPECT_TRUE(messages.events[0].beep);
    EXPECT_EQ(messages.events[1].box.title, QStringLiteral("ＲＴミミ"));
    EXPECT_TRUE(interpreter.openDevices().isEmpty());
    EXPECT_EQ(dialogsShown, 0);
}

TEST_F(OpenFromOutside, AFileDroppedOnThePanelOrTheVideoWindowOpens)
{
    EXPECT_FALSE(drop(&panel, {QUrl(QStringLiteral("https://example.org/a.avi"))}));
    EXPECT_TRUE(panel.MediaPath.isEmpty());

    ASSERT_TRUE(drop(&panel, {QUrl::fromLocalFile(clip)}));
    EXPECT_EQ(panel.DeviceError, 0) << layerErrors.join('\n').toStdString();
    EXPECT_EQ(panel.MediaPath, clip);

    // The layer's window takes drops once it shows, without knowing who asked.
    QWidget *video = videoWindow();
    ASSERT_NE(video, nullptr);
    EXPECT_TRUE(video->acceptDrops());
    ASSERT_TRUE(drop(video, {QUrl(QStringLiteral("https://example.org/x")),
                             QUrl::fromLocalFile(other)}));
    EXPECT_EQ(panel.MediaPath, other);
    EXPECT_EQ(interpreter.openDevices(), QStringList{other});
    EXPECT_EQ(dialogsShown, 0);
    EXPECT_TRUE(layerErrors.isEmpty());
}

} // namespace

// What the user sees of the About links and the busy window on the offscreen platform: texts that
// fit their labels, visible underlines, and the busy window lying framed on the main window.
// SPDX-License-Identifier: Apache-2.0
#include "app/TFMAbout.h"
#include "app/TWaitForm.h"
#include "app/TfmMain.h"
#include "app/uFunction.h"
#include "tests/app/AppTestSupport.h"

#include <gtest/gtest.h>

#include <QLabel>

namespace gq::app {
namespace {

class WindowLook : public testing::Test {
protected:
    void SetUp() override
    {
        window.show();
        QApplication::setActiveWindow(&window);
        QApplication::processEvents();
    }
    TfmMain window;
};

TEST_F(WindowLook, LinksAndTheBusyTextFitTheirLabelsAndLinksShowTheirUnderline)
{
    TFMAbout about(&window);
    about.show();
    TWaitForm wait(&window);
    for (QLabel* label : {static_cast<QLabel*>(about.Label5), static_cast<QLabel*>(about.Label7), wait.Label1}) {
        SCOPED_TRACE(label->text().toStdString());
        EXPECT_LE(QFontMetrics(label->font()).horizontalAdvance(label->text()), label->width());
    }
    for (QLabel* link : {static_cast<QLabel*>(about.Label5), static_cast<QLabel*>(about.Label7)}) {
        SCOPED_TRACE(link->text().toStdString());
        // The underline: a row of the link's blue across most of the text's width.
        const QImage image = link->grab().toImage();
        const int textWidth = QFontMetrics(link->font()).horizontalAdvance(link->text());
        int longest = 0;
        for (int y = 0; y < image.height(); ++y) {
            int run = 0;
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                run = (c.blue() > 150 && c.red() < 120 && c.green() < 120) ? run + 1 : 0;
                longest = std::max(longest, run);
            }
        }
        EXPECT_GT(longest, textWidth * 8 / 10);
    }
}

TEST_F(WindowLook, TheBusyWindowLiesCentredOnTheMainWindowWithAFrameAndMovesWithIt)
{
    TWaitForm wait(&window);
    WaitForm = &wait;
    ShowBusy(true, false);
    QApplication::processEvents();
    EXPECT_FALSE(wait.isWindow()) << "no window of its own to be listed or left behind";
    EXPECT_EQ(wait.parentWidget(), &window);
    const QRect outer = window.frameGeometry();
    const QPoint centre = wait.mapToGlobal(QPoint(wait.width() / 2, wait.height() / 2));
    EXPECT_LE((centre - outer.center()).manhattanLength(), 2);

    const QPoint before = wait.mapToGlobal(QPoint(0, 0));
    window.move(window.pos() + QPoint(40, 30));
    QApplication::processEvents();
    EXPECT_EQ(wait.mapToGlobal(QPoint(0, 0)) - before, QPoint(40, 30));

    // A one-pixel frame in the shadow colour, the face colour inside it.
    const QImage image = wait.grab().toImage();
    const QColor shadow = wait.palette().color(QPalette::Shadow);
    for (const QPoint at : {QPoint(0, 0), QPoint(200, 0), QPoint(0, 40), QPoint(375, 83), QPoint(200, 83)}) {
        EXPECT_EQ(image.pixelColor(at).rgb(), shadow.rgb()) << at.x() << "," << at.y();
    }
    EXPECT_NE(image.pixelColor(1, 40).rgb(), shadow.rgb());
    ShowBusy(false, false);
    WaitForm = nullptr;
}

} // namespace
} // namespace gq::app

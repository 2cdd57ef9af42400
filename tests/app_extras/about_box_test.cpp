#include "app/about_box.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <vector>

#include "app_extras/test_app.h"

namespace dahlo {
namespace {

// Records the links instead of starting a mail program or a browser.
class RecordingAbout : public TAbout {
  public:
    std::vector<QUrl> opened;

  protected:
    void OpenLink(const QUrl& url) override { opened.push_back(url); }
};

class AboutBoxTest : public ::testing::Test {
  protected:
    QLabel* Find(const char* name) { return about.findChild<QLabel*>(QString::fromLatin1(name)); }

    bool appReady_ = (test::TestApp(), true);  // before any widget
    RecordingAbout about;
};

TEST_F(AboutBoxTest, WindowIsAFixedSilverBoxAtItsDesignPlace) {
    EXPECT_EQ(about.objectName(), "About");
    EXPECT_EQ(about.windowTitle(), "About Dahlo");
    EXPECT_EQ(about.size(), QSize(342, 208));
    EXPECT_EQ(about.minimumSize(), QSize(342, 208));
    EXPECT_EQ(about.maximumSize(), QSize(342, 208));
    EXPECT_EQ(about.pos(), QPoint(282, 114));
    EXPECT_TRUE(about.autoFillBackground());
    EXPECT_EQ(about.palette().color(QPalette::Window), QColor(192, 192, 192));
    EXPECT_TRUE(about.isHidden());  // created hidden, shown only on request

    about.resize(500, 400);  // a resize request cannot change it
    EXPECT_EQ(about.size(), QSize(342, 208));
}

TEST_F(AboutBoxTest, LabelsSitWhereDesignedWithTheirFonts) {
    struct Expected {
        const char* name;
        int top;
        int height;
        const char* family;
        int pixels;
    };
    const Expected table[] = {
        {"txt1", 10, 31, "Times New Roman", 27},  {"Label1", 46, 20, "MS Sans Serif", 16},
        {"Label2", 76, 20, "MS Sans Serif", 16},  {"Label3", 108, 20, "MS Sans Serif", 16},
        {"Label4", 139, 20, "MS Sans Serif", 16},
    };
    for (const Expected& e : table) {
        SCOPED_TRACE(e.name);
        QLabel* label = Find(e.name);
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->geometry(), QRect(0, e.top, 350, e.height));
        EXPECT_EQ(label->minimumSize(), label->maximumSize());  // no automatic sizing
        EXPECT_TRUE(label->alignment() & Qt::AlignHCenter);
        EXPECT_EQ(label->font().family(), e.family);
        EXPECT_EQ(label->font().pixelSize(), e.pixels);
        EXPECT_TRUE(label->font().bold());
        EXPECT_FALSE(label->text().trimmed().isEmpty());
    }
    EXPECT_EQ(Find("txt1")->text(), "Valdor Dahlo  V1.0");
}

TEST_F(AboutBoxTest, OnlyTheTwoLinksLookAndActLikeLinks) {
    for (const char* name : {"Label2", "Label4"}) {
        SCOPED_TRACE(name);
        QLabel* label = Find(name);
        EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(0, 0, 255));
        EXPECT_TRUE(label->font().underline());
        EXPECT_EQ(label->cursor().shape(), Qt::PointingHandCursor);
    }
    for (const char* name : {"txt1", "Label1", "Label3"}) {
        SCOPED_TRACE(name);
        QLabel* label = Find(name);
        EXPECT_NE(label->palette().color(QPalette::WindowText), QColor(0, 0, 255));
        EXPECT_FALSE(label->font().underline());
        EXPECT_NE(label->cursor().shape(), Qt::PointingHandCursor);
    }
}

TEST_F(AboutBoxTest, ClickingALinkOpensItsTargetAndNothingElseOpensAnything) {
    about.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));

    QTest::mouseClick(Find("Label1"), Qt::LeftButton);
    QTest::mouseClick(Find("Label3"), Qt::LeftButton);
    QTest::mouseClick(Find("txt1"), Qt::LeftButton);
    EXPECT_TRUE(about.opened.empty());

    QTest::mouseClick(Find("Label2"), Qt::LeftButton);
    ASSERT_EQ(about.opened.size(), 1u);
    EXPECT_EQ(about.opened[0].scheme(), "mailto");
    // The mail link goes to the address the label shows.
    EXPECT_EQ(about.opened[0].path(), Find("Label2")->text());
    EXPECT_EQ(about.opened[0], QUrl("mailto:valdor@example.org"));

    QTest::mouseClick(Find("Label4"), Qt::LeftButton);
    ASSERT_EQ(about.opened.size(), 2u);
    EXPECT_EQ(about.opened[1], QUrl("https://www.example.org/dahlo/"));
    EXPECT_TRUE(about.opened[1].isValid());
    EXPECT_TRUE(about.opened[1].toString().contains(Find("Label4")->text()));

    // A press that ends outside the label is no click.
    QTest::mousePress(Find("Label4"), Qt::LeftButton);
    QTest::mouseRelease(Find("Label4"), Qt::LeftButton, {}, QPoint(-20, -20));
    EXPECT_EQ(about.opened.size(), 2u);
    about.hide();
}

TEST_F(AboutBoxTest, OkButtonIsPlacedAsDesigned) {
    QPushButton* ok = about.findChild<QPushButton*>("Button1");
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->text(), "OK");
    EXPECT_EQ(ok->geometry(), QRect(150, 176, 50, 25));
    EXPECT_EQ(ok->font().pixelSize(), 11);
    EXPECT_EQ(ok->palette().color(QPalette::ButtonText), QColor(Qt::black));
}

TEST_F(AboutBoxTest, OkEndsTheModalShowWithOkAndTheBoxCanBeShownAgain) {
    QPushButton* ok = about.findChild<QPushButton*>("Button1");
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        bool clicked = false;
        QTimer::singleShot(0, &about, [&] {
            clicked = about.isVisible();
            QTest::mouseClick(ok, Qt::LeftButton);
        });
        const int result = about.exec();
        EXPECT_TRUE(clicked);
        EXPECT_EQ(result, QDialog::Accepted);
        EXPECT_TRUE(about.isHidden());
    }
}

TEST_F(AboutBoxTest, ClosingTheBoxHidesItWithoutOpeningAnything) {
    about.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
    about.close();
    EXPECT_TRUE(about.isHidden());
    EXPECT_EQ(about.result(), QDialog::Rejected);
    EXPECT_TRUE(about.opened.empty());
}

}  // namespace
}  // namespace dahlo

#include "app/help_viewer.h"

#include <gtest/gtest.h>

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QWidget>
#include <memory>

#include "app_extras/test_app.h"

namespace dahlo {
namespace {

void WriteFile(const QString& path, const QString& text) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text.toUtf8());
}

// A help document with a preface above the contents and a section far below it.
QString SampleDocument(const QString& title) {
    QString html = QStringLiteral("<html><head><title>%1</title></head><body>").arg(title);
    for (int i = 0; i < 60; ++i) html += QStringLiteral("<p>Preface line %1</p>").arg(i);
    html += QStringLiteral(
        "<h1><a name=\"contents\"></a>Contents</h1>"
        "<p><a href=\"#far\">Go to the far section</a></p>");
    for (int i = 0; i < 200; ++i) html += QStringLiteral("<p>Filler line %1</p>").arg(i);
    html += QStringLiteral("<h2><a name=\"far\"></a>Far section</h2><p>The end.</p>");
    for (int i = 0; i < 60; ++i) html += QStringLiteral("<p>Tail line %1</p>").arg(i);
    return html + QStringLiteral("</body></html>");
}

// Top of the block holding anchor `name`, in document coordinates.
qreal AnchorTop(QTextBrowser* browser, const QString& name) {
    QTextDocument* doc = browser->document();
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            if (it.fragment().charFormat().anchorNames().contains(name)) {
                return doc->documentLayout()->blockBoundingRect(block).top();
            }
        }
    }
    return -1;
}

// Position in the document of the first character of the link to `href`.
int LinkPosition(QTextDocument* doc, const QString& href) {
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            if (it.fragment().charFormat().anchorHref() == href) return it.fragment().position();
        }
    }
    return -1;
}

class HelpViewerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::TestApp();
        ASSERT_TRUE(dir.isValid());
        oldCwd = QDir::currentPath();
        QDir::setCurrent(dir.path());
        parent = std::make_unique<QWidget>();
    }
    void TearDown() override {
        parent.reset();
        QDir::setCurrent(oldCwd);
    }

    HelpViewer* Viewer() {
        return parent->findChild<HelpViewer*>("HelpViewer", Qt::FindDirectChildrenOnly);
    }

    QTemporaryDir dir;
    QString oldCwd;
    std::unique_ptr<QWidget> parent;
};

TEST_F(HelpViewerTest, ShowsTheDocumentTitleAndOpensAtTheContents) {
    WriteFile("dahlo.hlp", SampleDocument("Sample Guide"));
    HelpViewer::ShowHelpContents(parent.get(), "dahlo.hlp");
    HelpViewer* viewer = Viewer();
    ASSERT_NE(viewer, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(viewer));
    QTest::qWait(50);

    EXPECT_EQ(viewer->windowTitle(), "Sample Guide");
    EXPECT_EQ(viewer->Browser()->documentTitle(), "Sample Guide");
    // The preface is scrolled away: the contents heading is at the top of the view.
    const qreal contentsTop = AnchorTop(viewer->Browser(), "contents");
    ASSERT_GT(contentsTop, 0);
    const int scroll = viewer->Browser()->verticalScrollBar()->value();
    EXPECT_GT(scroll, 0);
    EXPECT_NEAR(scroll, contentsTop, 30);
}

TEST_F(HelpViewerTest, ClickingAnInternalLinkScrollsToItsSection) {
    WriteFile("dahlo.hlp", SampleDocument("Sample Guide"));
    HelpViewer::ShowHelpContents(parent.get(), "dahlo.hlp");
    HelpViewer* viewer = Viewer();
    ASSERT_NE(viewer, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(viewer));
    QTest::qWait(50);
    QTextBrowser* browser = viewer->Browser();

    const int link = LinkPosition(browser->document(), "#far");
    ASSERT_GE(link, 0);
    QTextCursor cursor(browser->document());
    cursor.setPosition(link + 2);
    const QPoint point = browser->cursorRect(cursor).center();
    const int before = browser->verticalScrollBar()->value();
    QTest::mouseClick(browser->viewport(), Qt::LeftButton, {}, point);
    QTest::qWait(50);

    EXPECT_EQ(browser->source().fragment(), "far");
    const int after = browser->verticalScrollBar()->value();
    EXPECT_GT(after, before);
    EXPECT_NEAR(after, AnchorTop(browser, "far"), 30);
    // Still the same document: an internal link does not leave it.
    EXPECT_EQ(browser->documentTitle(), "Sample Guide");
}

TEST_F(HelpViewerTest, MissingFileIsReportedInTheWindowByName) {
    HelpViewer::ShowHelpContents(parent.get(), "nowhere-to-be-found.hlp");
    HelpViewer* viewer = Viewer();
    ASSERT_NE(viewer, nullptr);
    EXPECT_TRUE(viewer->isVisible());
    const QString text = viewer->Browser()->toPlainText();
    EXPECT_TRUE(text.contains("nowhere-to-be-found.hlp")) << text.toStdString();
    EXPECT_TRUE(text.contains("not found", Qt::CaseInsensitive)) << text.toStdString();
    EXPECT_TRUE(viewer->windowTitle().contains("nowhere-to-be-found.hlp"));

    // Once the file is there, asking again shows it in the same window.
    WriteFile("nowhere-to-be-found.hlp", SampleDocument("Found Now"));
    HelpViewer::ShowHelpContents(parent.get(), "nowhere-to-be-found.hlp");
    EXPECT_EQ(Viewer(), viewer);
    EXPECT_EQ(parent->findChildren<HelpViewer*>().size(), 1);
    EXPECT_EQ(viewer->windowTitle(), "Found Now");
    EXPECT_FALSE(viewer->Browser()->toPlainText().contains("not found", Qt::CaseInsensitive));
}

TEST_F(HelpViewerTest, ReopeningReturnsToTheContentsAfterBrowsing) {
    WriteFile("dahlo.hlp", SampleDocument("Sample Guide"));
    HelpViewer::ShowHelpContents(parent.get(), "dahlo.hlp");
    HelpViewer* viewer = Viewer();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(viewer));
    viewer->Browser()->scrollToAnchor("far");
    QTest::qWait(20);
    const int far = viewer->Browser()->verticalScrollBar()->value();

    HelpViewer::ShowHelpContents(parent.get(), "dahlo.hlp");
    QTest::qWait(20);
    const int contents = viewer->Browser()->verticalScrollBar()->value();
    EXPECT_LT(contents, far);
    EXPECT_NEAR(contents, AnchorTop(viewer->Browser(), "contents"), 30);
}

TEST_F(HelpViewerTest, FindsTheWorkingDirectoryCopyFirstThenTheInstalledOne) {
    // The data folder beside the program stands in for an installed copy.
    const QString shareDir =
        QDir::cleanPath(QCoreApplication::applicationDirPath() + "/../share/dahlo");
    ASSERT_TRUE(QDir().mkpath(shareDir));
    const QString name = "app-extras-lookup-test.hlp";
    const QString installed = shareDir + "/" + name;
    WriteFile(installed, SampleDocument("Installed Copy"));

    EXPECT_EQ(HelpViewer::LocateHelpFile(name), QFileInfo(installed).absoluteFilePath());
    HelpViewer::ShowHelpContents(parent.get(), name);
    EXPECT_EQ(Viewer()->windowTitle(), "Installed Copy");

    WriteFile(name, SampleDocument("Local Copy"));
    EXPECT_EQ(HelpViewer::LocateHelpFile(name), QDir(dir.path()).absoluteFilePath(name));
    HelpViewer::ShowHelpContents(parent.get(), name);
    EXPECT_EQ(Viewer()->windowTitle(), "Local Copy");

    // A file named with its full path is looked for nowhere else.
    EXPECT_TRUE(HelpViewer::LocateHelpFile(dir.path() + "/missing/" + name).isEmpty());
    QFile::remove(installed);
}

// The help document that ships with the program.
TEST(ShippedHelpDocument, HasTitleContentsAndNoDeadInternalLinks) {
    test::TestApp();
    QFile file(QStringLiteral(DAHLO_DOCS_DIR "/dahlo.hlp"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QTextDocument doc;
    doc.setHtml(QString::fromUtf8(file.readAll()));
    EXPECT_FALSE(doc.metaInformation(QTextDocument::DocumentTitle).isEmpty());

    QSet<QString> anchors;
    QStringList links;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            for (const QString& name : format.anchorNames()) anchors.insert(name);
            if (format.anchorHref().startsWith('#')) links << format.anchorHref().mid(1);
        }
    }
    EXPECT_TRUE(anchors.contains("contents"));
    EXPECT_GT(links.size(), 20);  // the contents list alone has more
    for (const QString& link : links) {
        EXPECT_TRUE(anchors.contains(link)) << "dead link #" << link.toStdString();
    }
    const QString text = doc.toPlainText();
    // Written for users: no references to design papers.
    const QRegularExpression internal("\\bspec(ification)?\\b|\\bPart \\d\\.\\d",
                                      QRegularExpression::CaseInsensitiveOption);
    EXPECT_FALSE(text.contains(internal));
}

}  // namespace
}  // namespace dahlo

#include "app/help_viewer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTextBrowser>
#include <QTextDocument>
#include <QUrl>
#include <QVBoxLayout>

#ifndef DAHLO_INSTALLED_DATA_DIR
#define DAHLO_INSTALLED_DATA_DIR "/usr/local/share/dahlo"
#endif

namespace dahlo {

namespace {

constexpr const char* kContentsAnchor = "contents";

QString MissingFilePage(const QString& file, const QStringList& searched) {
    QString page = QStringLiteral("<html><head><title>Help file not found</title></head><body>");
    page +=
        QStringLiteral("<h2>Help file not found</h2><p>Cannot open the help file <b>%1</b>.</p>")
            .arg(file.toHtmlEscaped());
    page += QStringLiteral("<p>Looked for it in:</p><ul>");
    for (const QString& path : searched) {
        page += QStringLiteral("<li>%1</li>").arg(QDir::toNativeSeparators(path).toHtmlEscaped());
    }
    page += QStringLiteral(
        "</ul><p>Copy the help file into the working directory, or install Dahlo.</p></body>"
        "</html>");
    return page;
}

}  // namespace

HelpViewer::HelpViewer(QWidget* parent) : QDialog(parent, Qt::Window) {
    setObjectName(QStringLiteral("HelpViewer"));
    setWindowTitle(QStringLiteral("Dahlo Help"));
    resize(640, 520);
    browser_ = new QTextBrowser(this);
    browser_->setObjectName(QStringLiteral("HelpBrowser"));
    browser_->setOpenLinks(true);
    browser_->setOpenExternalLinks(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(browser_);
}

QStringList HelpViewer::SearchPaths(const QString& file) {
    QStringList paths{QFileInfo(file).absoluteFilePath()};
    if (QFileInfo(file).isAbsolute()) {
        return paths;
    }
    const QString name = QFileInfo(file).fileName();
    paths << QDir::cleanPath(QCoreApplication::applicationDirPath() + "/../share/dahlo/" + name);
    paths << QDir::cleanPath(QStringLiteral(DAHLO_INSTALLED_DATA_DIR "/") + name);
    for (const QString& dir :
         QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation)) {
        paths << QDir::cleanPath(dir + "/dahlo/" + name);
    }
    paths.removeDuplicates();
    return paths;
}

QString HelpViewer::LocateHelpFile(const QString& file) {
    for (const QString& path : SearchPaths(file)) {
        QFileInfo info(path);
        if (info.isFile() && info.isReadable()) {
            return info.absoluteFilePath();
        }
    }
    return {};
}

bool HelpViewer::OpenContents(const QString& file) {
    const QString path = LocateHelpFile(file);
    if (path.isEmpty()) {
        browser_->clear();
        browser_->setHtml(MissingFilePage(file, SearchPaths(file)));
        setWindowTitle(QStringLiteral("Dahlo Help - %1 not found").arg(file));
        return false;
    }
    // The help document is HTML whatever its extension says.
    const QUrl url = QUrl::fromLocalFile(path);
    if (browser_->source().adjusted(QUrl::RemoveFragment) == url) {
        browser_->reload();  // the same file again: it may have changed meanwhile
    } else {
        browser_->setSource(url, QTextDocument::HtmlResource);
    }
    if (browser_->document()->isEmpty()) {
        browser_->setHtml(MissingFilePage(file, {path}));
        setWindowTitle(QStringLiteral("Dahlo Help - %1 not found").arg(file));
        return false;
    }
    browser_->scrollToAnchor(QString::fromLatin1(kContentsAnchor));
    const QString title = browser_->documentTitle();
    setWindowTitle(title.isEmpty() ? QStringLiteral("Dahlo Help") : title);
    return true;
}

void HelpViewer::ShowHelpContents(QWidget* parent, const QString& file) {
    HelpViewer* viewer = nullptr;
    if (parent != nullptr) {
        viewer = parent->findChild<HelpViewer*>(QStringLiteral("HelpViewer"),
                                                Qt::FindDirectChildrenOnly);
    }
    if (viewer == nullptr) {
        viewer = new HelpViewer(parent);
        if (parent == nullptr) {
            viewer->setAttribute(Qt::WA_DeleteOnClose);
        }
    }
    viewer->OpenContents(file);
    viewer->show();
    viewer->raise();
    viewer->activateWindow();
}

}  // namespace dahlo

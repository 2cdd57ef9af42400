#pragma once
// The help window: shows the HTML help document at its contents, with working internal links.
// One viewer per parent window; asking again brings the same window back to its contents.

#include <QDialog>
#include <QString>
#include <QStringList>

class QTextBrowser;

namespace dahlo {

class HelpViewer : public QDialog {
    Q_OBJECT

  public:
    explicit HelpViewer(QWidget* parent = nullptr);

    // Shows `file` (normally "dahlo.hlp") at its contents in the viewer belonging to `parent`,
    // creating the viewer on first use. A missing file is reported inside the viewer.
    static void ShowHelpContents(QWidget* parent, const QString& file);

    // Where `file` is looked for, in order: as given (a bare name is in the working directory),
    // then the data folder beside the program (../share/dahlo), then the installed data folder,
    // then the XDG data folders. Empty when it is nowhere.
    static QString LocateHelpFile(const QString& file);
    static QStringList SearchPaths(const QString& file);

    // Loads `file` and scrolls to its contents; false (and a message naming the file in the
    // window) when it cannot be found or read.
    bool OpenContents(const QString& file);

    QTextBrowser* Browser() const { return browser_; }

  private:
    QTextBrowser* browser_ = nullptr;
};

}  // namespace dahlo

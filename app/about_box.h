#pragma once
// The program information window: name and version, the maker's notice and two clickable links
// (mail and web page). Created hidden with the main window and shown modally from Help, About.

#include <QDialog>
#include <QString>
#include <QUrl>

class QLabel;
class QPushButton;

namespace dahlo {

// The maker's contact details, shared with the start banner of the receive text.
inline constexpr const char* kMakerNotice = "Freeware for radio amateurs";
inline constexpr const char* kMakerMail = "valdor@example.org";
inline constexpr const char* kMakerPostal = "or write to: dahlo@example.com";
inline constexpr const char* kMakerWebText = "www.example.org/dahlo";
inline constexpr const char* kMakerWebUrl = "https://www.example.org/dahlo/";

class TAbout : public QDialog {
    Q_OBJECT

  public:
    explicit TAbout(QWidget* parent = nullptr);

    QLabel* txt1 = nullptr;          // title line
    QLabel* Label1 = nullptr;        // maker's notice
    QLabel* Label2 = nullptr;        // mail link
    QLabel* Label3 = nullptr;        // second contact, plain text
    QLabel* Label4 = nullptr;        // web-page link
    QPushButton* Button1 = nullptr;  // OK

  public slots:
    void Label2Click();   // opens the mail link
    void Label4Click();   // opens the web page
    void Button1Click();  // modal result OK, hides the box

  protected:
    // Hands a link to the desktop (mail program, browser). Tests override it to record the URL.
    // The result is not examined: a link nobody handles simply does nothing.
    virtual void OpenLink(const QUrl& url);

    bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace dahlo

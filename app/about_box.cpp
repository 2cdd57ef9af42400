#include "app/about_box.h"

#include <QDesktopServices>
#include <QFont>
#include <QLabel>
#include <QMouseEvent>
#include <QPalette>
#include <QPushButton>

namespace dahlo {

namespace {

constexpr int kClientWidth = 342;
constexpr int kClientHeight = 208;
constexpr int kLabelWidth = 350;  // a little wider than the client area, as designed
const QColor kSilver(192, 192, 192);
const QColor kLinkBlue(0, 0, 255);

// Pixel heights as designed; the style hint picks a sensible substitute where the named face
// is not installed.
QFont DesignFont(const QString& family, int pixels, bool bold, QFont::StyleHint hint) {
    QFont font(family);
    font.setStyleHint(hint);
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

QLabel* MakeLabel(QWidget* parent, const char* name, int top, int height, const QString& text) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(0, top, kLabelWidth, height);
    label->setFixedSize(kLabelWidth, height);
    label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    label->setFont(DesignFont(QStringLiteral("MS Sans Serif"), 16, true, QFont::SansSerif));
    return label;
}

void MakeLink(QLabel* label) {
    QFont font = label->font();
    font.setUnderline(true);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, kLinkBlue);
    label->setPalette(palette);
    label->setCursor(Qt::PointingHandCursor);
}

}  // namespace

TAbout::TAbout(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("About"));
    setWindowTitle(QStringLiteral("About Dahlo"));
    setFixedSize(kClientWidth, kClientHeight);
    setSizeGripEnabled(false);
    move(282, 114);

    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, kSilver);
    setPalette(palette);
    setAutoFillBackground(true);

    txt1 = MakeLabel(this, "txt1", 10, 31, QStringLiteral("Valdor Dahlo  V1.0"));
    txt1->setFont(DesignFont(QStringLiteral("Times New Roman"), 27, true, QFont::Serif));
    Label1 = MakeLabel(this, "Label1", 46, 20, QString::fromUtf8(kMakerNotice));
    Label2 = MakeLabel(this, "Label2", 76, 20, QString::fromUtf8(kMakerMail));
    Label3 = MakeLabel(this, "Label3", 108, 20, QString::fromUtf8(kMakerPostal));
    Label4 = MakeLabel(this, "Label4", 139, 20, QString::fromUtf8(kMakerWebText));
    MakeLink(Label2);
    MakeLink(Label4);
    Label2->installEventFilter(this);
    Label4->installEventFilter(this);

    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(150, 176, 50, 25);
    Button1->setFont(DesignFont(QStringLiteral("MS Sans Serif"), 11, false, QFont::SansSerif));
    QPalette buttonPalette = Button1->palette();
    buttonPalette.setColor(QPalette::ButtonText, Qt::black);
    Button1->setPalette(buttonPalette);
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &TAbout::Button1Click);
}

void TAbout::Label2Click() {
    OpenLink(QUrl(QStringLiteral("mailto:") + QString::fromUtf8(kMakerMail)));
}

void TAbout::Label4Click() {
    OpenLink(QUrl(QString::fromUtf8(kMakerWebUrl)));
}

void TAbout::Button1Click() {
    accept();
}

void TAbout::OpenLink(const QUrl& url) {
    QDesktopServices::openUrl(url);
}

bool TAbout::eventFilter(QObject* watched, QEvent* event) {
    // A click is a left press and release on the same label, like a button.
    if (event->type() == QEvent::MouseButtonRelease && (watched == Label2 || watched == Label4)) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        auto* label = static_cast<QLabel*>(watched);
        if (mouse->button() == Qt::LeftButton &&
            label->rect().contains(mouse->position().toPoint())) {
            if (watched == Label2) {
                Label2Click();
            } else {
                Label4Click();
            }
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace dahlo

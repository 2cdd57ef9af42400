#pragma once
// The menu bar: File (Clear Buffer, Save Buffer, Exit), Setup (main filter width, burst filter
// speed, charset, the receive text's font and background, Save Setup) and Help (Contens, About).
// The bar is built with captions and names only; main_menu.cpp also holds the window's handlers
// of its items.

#include <vector>

class QAction;
class QMenu;
class QMenuBar;
class QObject;

namespace dahlo {

// The burst filter's items, slowest first.
struct BurstSpeedItem {
    const char* name;
    const char* caption;
    int lpm;
};
inline constexpr BurstSpeedItem kBurstSpeedItems[] = {
    {"N100CPM1", "100   LPM", 100},  {"N200CPM1", "200   LPM", 200},
    {"N300CPM1", "300   LPM", 300},  {"N500CPM1", "500   LPM", 500},
    {"N1000CPM1", "1000 LPM", 1000}, {"N1500CPM1", "1500 LPM", 1500},
    {"N2500CPM1", "2500 LPM", 2500}, {"N3000CPM1", "3000 LPM", 3000},
    {"N5000CPM1", "5000 LPM", 5000},
};

struct MainMenu {
    QAction* clearBuffer = nullptr;
    QAction* saveBuffer = nullptr;
    QAction* exit = nullptr;

    QMenu* filterWidth = nullptr;  // its title names the width chosen
    QAction* narrowFilter = nullptr;
    QAction* wideFilter = nullptr;
    QAction* veryWideFilter = nullptr;
    QMenu* burstFilter = nullptr;       // its title names the speed chosen
    std::vector<QAction*> burstSpeeds;  // as kBurstSpeedItems
    QAction* englishCharset = nullptr;  // the three charsets check one another out
    QAction* russianCharset = nullptr;
    QAction* userCharset = nullptr;
    QAction* fontSetup = nullptr;
    QAction* backgroundSetup = nullptr;
    QAction* saveSetup = nullptr;
    QAction* bandView = nullptr;  // Ctrl+B: the band view's window

    QAction* helpContents = nullptr;
    QAction* about = nullptr;
};

// Fills `bar`; the charsets' radio group belongs to `owner`.
MainMenu BuildMainMenu(QMenuBar& bar, QObject* owner);

}  // namespace dahlo

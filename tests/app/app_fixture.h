#pragma once
// A window under test: its own working directory (for DAHLO.INI), a scripted sound input, scripted
// dialogs and a broadcaster that records what it sends.

#include <gtest/gtest.h>

#include <QColor>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QLabel>
#include <QMenu>
#include <QPoint>
#include <QTemporaryDir>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/dialogs.h"
#include "app/main_window.h"
#include "app/receive_text.h"
#include "app/scope_strip.h"
#include "app/spectrum_strip.h"
#include "app/status_bar.h"
#include "app/toolbar.h"
#include "capture/scripted_input.h"
#include "export/broadcaster.h"

namespace dahlo::test {

class RecordingBroadcaster final : public Broadcaster {
  public:
    struct Sent {
        std::uint32_t id;
        std::uint32_t word;
        std::int32_t lparam;
    };
    std::uint32_t RegisterMessage(std::string_view name) override {
        names.emplace_back(name);
        return static_cast<std::uint32_t>(0xC000 + names.size());
    }
    void Broadcast(std::uint32_t id, std::uint32_t word, std::int32_t lparam) override {
        sent.push_back({id, word, lparam});
    }
    std::uint32_t IdOf(const std::string& name) const {
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (names[i] == name) return static_cast<std::uint32_t>(0xC000 + i + 1);
        }
        return 0;
    }
    std::vector<std::string> names;
    std::vector<Sent> sent;
};

// Answers each dialog from a queue; an empty queue cancels (and says No). It keeps the contract
// of the desktop dialogs: the save dialog adds the default suffix to a name without one (unless
// `addsSuffix` is off) and asks before overwriting; the colour dialog starts from its own last
// colour.
class ScriptedDialogs final : public Dialogs {
  public:
    QString OpenFile(QWidget*, const FileDialogRequest& request) override {
        requests.push_back(request);
        return Next();
    }
    QString SaveFile(QWidget* parent, const FileDialogRequest& request) override {
        requests.push_back(request);
        QString name = Next();
        if (name.isEmpty()) return name;
        if (addsSuffix && !request.defaultSuffix.isEmpty() && QFileInfo(name).suffix().isEmpty()) {
            name += "." + request.defaultSuffix;
        }
        if (QFileInfo::exists(name) && !AskYesNo(parent, request.title, name)) return {};
        return name;
    }
    bool ChooseFont(QWidget*, QFont& font) override {
        offeredFonts.push_back(font);
        if (fonts.empty()) return false;
        const std::optional<QFont> answer = fonts.front();
        fonts.pop_front();
        if (!answer) return false;
        font = *answer;
        return true;
    }
    bool ChooseColor(QWidget*, QColor& color) override {
        offeredColors.push_back(lastColor);
        if (colors.empty()) return false;
        const std::optional<QColor> answer = colors.front();
        colors.pop_front();
        if (!answer) return false;
        lastColor = *answer;
        color = *answer;
        return true;
    }
    void ShowMessage(QWidget*, const QString& caption, const QString& text,
                     MessageIcon icon) override {
        messages.emplace_back(caption, text);
        messageIcons.push_back(icon);
    }
    bool AskYesNo(QWidget*, const QString&, const QString& text) override {
        questions.push_back(text);
        if (answers.empty()) return false;
        const bool yes = answers.front();
        answers.pop_front();
        return yes;
    }

    std::deque<QString> files;
    bool addsSuffix = true;
    std::deque<std::optional<QFont>> fonts;
    std::deque<std::optional<QColor>> colors;
    std::deque<bool> answers;
    std::vector<FileDialogRequest> requests;
    std::vector<QFont> offeredFonts;
    std::vector<QColor> offeredColors;
    std::vector<QString> questions;
    std::vector<std::pair<QString, QString>> messages;
    std::vector<MessageIcon> messageIcons;  // one per message
    QColor lastColor = Qt::black;

  private:
    QString Next() {
        if (files.empty()) return {};
        QString f = files.front();
        files.pop_front();
        return f;
    }
};

class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        previousDir_ = QDir::currentPath();
        QDir::setCurrent(dir_.path());
    }
    void TearDown() override {
        form.reset();
        input.reset();
        QDir::setCurrent(previousDir_);
    }

    void WriteIni(const std::string& text) {
        QFile file(dir_.filePath("DAHLO.INI"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text.data(), static_cast<qint64>(text.size()));
    }

    // Builds the window as the program does (nothing shown yet).
    void Create(std::vector<std::int16_t> samples = {}) {
        input = std::make_unique<ScriptedInput>(std::move(samples));
        MainWindowServices services;
        services.soundInput = input.get();
        services.dialogs = &dialogs;
        services.broadcaster = &broadcaster;
        services.terminate = [this] { ++terminations; };
        // The popup is recorded instead of shown; tests choose its items themselves.
        services.popup = [this](QMenu& menu, QPoint screenPos) {
            popups.push_back({&menu, screenPos});
        };
        form = std::make_unique<MainWindow>(std::move(services));
    }

    // Delivers the window's activation event, as the window system does when it is shown.
    void Activate() {
        QEvent activate(QEvent::WindowActivate);
        QCoreApplication::sendEvent(form.get(), &activate);
    }

    void CreateShownAndActive() {
        Create();
        form->show();
        Activate();
    }

    QString Panel(int index) const { return form->status->panels[index]->text(); }
    QString DirPath(const QString& name) const { return dir_.filePath(name); }

    ScriptedDialogs dialogs;
    RecordingBroadcaster broadcaster;
    std::unique_ptr<ScriptedInput> input;
    std::unique_ptr<MainWindow> form;
    int terminations = 0;
    struct Popup {
        QMenu* menu;
        QPoint screenPos;
    };
    std::vector<Popup> popups;

  private:
    QTemporaryDir dir_;
    QString previousDir_;
};

}  // namespace dahlo::test

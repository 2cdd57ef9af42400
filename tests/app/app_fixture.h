#pragma once
// A window under test: its own working directory (for DAHLO.INI), a scripted sound input, scripted
// dialogs and a broadcaster that records what it sends.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/dialogs.h"
#include "app/unit1.h"
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

// Answers each dialog from a queue; an empty queue cancels.
class ScriptedDialogs final : public Dialogs {
  public:
    QString OpenFile(QWidget*, const FileDialogRequest& request) override {
        requests.push_back(request);
        return Next();
    }
    QString SaveFile(QWidget*, const FileDialogRequest& request) override {
        requests.push_back(request);
        return Next();
    }
    bool ChooseFont(QWidget*, QFont&) override { return false; }
    bool ChooseColor(QWidget*, QColor&) override { return false; }
    void ShowMessage(QWidget*, const QString& caption, const QString& text) override {
        messages.emplace_back(caption, text);
    }

    std::deque<QString> files;
    std::vector<FileDialogRequest> requests;
    std::vector<std::pair<QString, QString>> messages;

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
        RxFormServices services;
        services.soundInput = input.get();
        services.dialogs = &dialogs;
        services.broadcaster = &broadcaster;
        services.terminate = [this] { ++terminations; };
        form = std::make_unique<TRxForm>(std::move(services));
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

    QString Panel(int index) const { return form->StatusPanels[index]->text(); }
    QString DirPath(const QString& name) const { return dir_.filePath(name); }

    ScriptedDialogs dialogs;
    RecordingBroadcaster broadcaster;
    std::unique_ptr<ScriptedInput> input;
    std::unique_ptr<TRxForm> form;
    int terminations = 0;

  private:
    QTemporaryDir dir_;
    QString previousDir_;
};

}  // namespace dahlo::test

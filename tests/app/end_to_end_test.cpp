// The road of a buffer through the window: the scripted input fills buffers on its own thread,
// "block ready" events reach the window's dispatch, the loop decodes into the receive text and
// draws the strips.
#include <QElapsedTimer>
#include <QPlainTextEdit>

#include "app/paint_strip.h"
#include "app_fixture.h"
#include "support/morse_synth.h"

namespace dahlo::test {
namespace {

TEST_F(WindowTest, SynthesizedMorseIsDecodedIntoTheReceiveText) {
    MorseSynthOptions options;
    options.wpm = 20.0;
    options.signal.pitch_hz = 996.0;  // the start-up centre
    options.lead_silence_s = 1.0;
    const std::vector<std::int16_t> audio =
        SynthesizeMorse("paris paris paris test de dahlo", options);
    Create(audio);
    form->show();
    Activate();
    form->menu.clearBuffer->trigger();

    const int blocks = static_cast<int>(audio.size() / kBlockSamples) + 2;
    for (int delivered = 0; delivered < blocks;) {
        const int burst = std::min(4, blocks - delivered);
        ASSERT_EQ(input->DeliverBurst(burst), burst);  // never more than 16 outstanding
        delivered += burst;
        QElapsedTimer timer;
        timer.start();
        while (form->ring.WaitingBlocks.load() > 0 && timer.elapsed() < 5000) {
            QCoreApplication::processEvents();
        }
        ASSERT_EQ(form->ring.WaitingBlocks.load(), 0);
    }

    const QString text = form->receiveText->toPlainText();
    EXPECT_TRUE(text.contains("test de dahlo")) << text.toStdString();
    EXPECT_EQ(Panel(1), "0996 Hz");  // the spectrum was painted
    EXPECT_TRUE(Panel(4).endsWith("LPM"));
    EXPECT_NE(Panel(4), "---- LPM");               // the speed was measured
    EXPECT_EQ(form->ring.FreeBuffers.load(), 16);  // every buffer went back
    EXPECT_FALSE(form->scopeStrip->Shown().isNull());
}

}  // namespace
}  // namespace dahlo::test

// dahlo-decode --skim as a process: its spot port served to real TCP clients while the test paces
// the audio on standard input, Ctrl-C, the dial read from Hamlib's rigctld (changed, lost and
// back), and what it says when the port or the rig cannot be had.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/band_synth.h"
#include "support/net_test_support.h"

#ifndef DAHLO_DECODE_PROGRAM
#error "DAHLO_DECODE_PROGRAM names the dahlo-decode under test"
#endif

namespace dahlo {
namespace {

using std::chrono::milliseconds;
using test::ChildProcess;
using test::TcpClient;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The call and frequency of a DX-cluster line: "DX de SPOTTER:  14020.7  K1ABC ...".
struct SpotSeen {
    std::string call;
    double freqKhz = 0.0;
};
std::vector<SpotSeen> Spots(const std::string& out) {
    std::vector<SpotSeen> spots;
    for (const std::string& line : Lines(out)) {
        std::istringstream words(line);
        std::string dx, de, spotter;
        SpotSeen spot;
        if (words >> dx >> de >> spotter >> spot.freqKhz >> spot.call && dx == "DX") {
            spots.push_back(spot);
        }
    }
    return spots;
}

bool Feed(ChildProcess& child, const std::vector<std::int16_t>& samples) {
    return child.Write(samples.data(), samples.size() * sizeof(std::int16_t));
}

// One station calling, alone in the band's noise.
std::vector<std::int16_t> Calling(const std::string& call, double pitchHz, std::uint64_t seed) {
    test::BandStation station;
    station.text = "cq de " + call + " " + call + " k";
    station.wpm = 25;
    station.pitch_hz = pitchHz;
    station.level_dbfs = -20;
    station.start_s = 0.5;
    return test::SynthesizeBand({station}, test::TestBandNoiseSigma(), seed);
}

int PortFromStderr(ChildProcess& child) {
    if (!child.WaitForErr(" (telnet)\n")) return -1;
    const std::string err = child.Err();
    const auto at = err.find(" port ");
    return at == std::string::npos ? -1 : std::atoi(err.c_str() + at + 6);
}

TEST(SpotTool, TheSpotPortServesWhatSpotsPrintsAndCtrlCEndsItCleanly) {
    ChildProcess decode({DAHLO_DECODE_PROGRAM, "--spots", "--spot-port", "0", "--spotter",
                         "OK1XYZ-#", "--dial", "14000", "-"});
    ASSERT_TRUE(decode.Started());
    const int port = PortFromStderr(decode);
    ASSERT_GT(port, 0) << decode.Err();
    TcpClient first(port), second(port);
    ASSERT_TRUE(first.LogIn("K1ABC"));
    ASSERT_TRUE(second.LogIn("DL2XYZ"));

    const std::vector<test::BandStation> band = test::TestBand();
    ASSERT_TRUE(Feed(decode, test::SynthesizeBand(band, test::TestBandNoiseSigma())));
    const std::string lastCall = "OK1RR";  // the slowest station's call comes last
    ASSERT_TRUE(first.ReadUntil(lastCall)) << first.received;
    ASSERT_TRUE(second.ReadUntil(lastCall)) << second.received;
    ASSERT_TRUE(decode.WaitForOut(lastCall));

    // Both clients got exactly the lines the program printed, and those are the band's calls.
    const std::vector<std::string> printed = Lines(decode.Out());
    EXPECT_EQ(first.SpotLines(), printed);
    EXPECT_EQ(second.SpotLines(), printed);
    std::set<std::string> calls, expected;
    for (const SpotSeen& s : Spots(decode.Out())) calls.insert(s.call);
    for (const test::BandStation& s : band) expected.insert(s.call);
    EXPECT_EQ(calls, expected);
    EXPECT_EQ(printed.size(), band.size());

    // Ctrl-C while standard input is still open: the program ends at once and says goodbye to
    // every client with a clean end of the connection.
    decode.Signal(SIGINT);
    EXPECT_EQ(decode.Wait(milliseconds(5000)), 0) << decode.Err();
    EXPECT_EQ(first.ReadToEnd(), TcpClient::End::kEof);
    EXPECT_EQ(second.ReadToEnd(), TcpClient::End::kEof);
    EXPECT_EQ(Lines(decode.Err()).size(), 1u) << decode.Err();
}

TEST(SpotTool, SpotsFollowTheRigsDialThroughAChangeALossAndItsReturn) {
    if (!test::OnPath("rigctld"))
        GTEST_SKIP() << "rigctld (Debian package libhamlib-utils) is not installed";
    test::Rigctld rig(test::FreePort());
    ASSERT_TRUE(rig.SetFrequencyHz(14020000));
    // The calls are known: each is spotted at its first clean copy, as the dial stood then.
    const std::string known = testing::TempDir() + "dahlo_known_calls.scp";
    std::ofstream(known) << "# calls\nK1ABC\nW2XYZ\nDL3ABC\n\nOH2BH\n";
    ChildProcess decode(
        {DAHLO_DECODE_PROGRAM, "--spots", "--rig", rig.Address(), "--known-calls", known, "-"});
    ASSERT_TRUE(decode.WaitForErr("dial 14020.0 kHz")) << decode.Err();
    const milliseconds twoPolls(2500);

    ASSERT_TRUE(Feed(decode, Calling("k1abc", 700, 1)));
    ASSERT_TRUE(decode.WaitForOut("K1ABC")) << decode.Out();

    // Retuned while the program runs: the next station's spot is on the new band.
    ASSERT_TRUE(rig.SetFrequencyHz(7010000));
    std::this_thread::sleep_for(twoPolls);
    ASSERT_TRUE(Feed(decode, Calling("w2xyz", 900, 2)));
    ASSERT_TRUE(decode.WaitForOut("W2XYZ")) << decode.Out();

    // rigctld gone: one warning, and skimming goes on at the last dial.
    rig.Kill();
    ASSERT_TRUE(decode.WaitForErr("lost the rig", 1, milliseconds(5000))) << decode.Err();
    ASSERT_TRUE(Feed(decode, Calling("dl3abc", 1100, 3)));
    ASSERT_TRUE(decode.WaitForOut("DL3ABC")) << decode.Out();
    std::this_thread::sleep_for(twoPolls);  // more polls of a rig that is still away

    // Back, tuned elsewhere: picked up again.
    ASSERT_TRUE(rig.Start());
    ASSERT_TRUE(rig.SetFrequencyHz(21030000));
    ASSERT_TRUE(decode.WaitForErr("answers again", 1, milliseconds(5000))) << decode.Err();
    std::this_thread::sleep_for(twoPolls);
    ASSERT_TRUE(Feed(decode, Calling("oh2bh", 1300, 4)));
    ASSERT_TRUE(decode.WaitForOut("OH2BH")) << decode.Out();
    decode.CloseStdin();
    ASSERT_EQ(decode.Wait(), 0) << decode.Err();

    const std::vector<SpotSeen> spots = Spots(decode.Out());
    ASSERT_EQ(spots.size(), 4u) << decode.Out();
    const double expectedKhz[] = {14020.7, 7010.9, 7011.1, 21031.3};
    for (std::size_t i = 0; i < spots.size(); ++i) {
        EXPECT_NEAR(spots[i].freqKhz, expectedKhz[i], 0.051) << spots[i].call;
    }
    EXPECT_EQ(ChildProcess::Count(decode.Err(), "lost the rig"), 1) << decode.Err();
    EXPECT_EQ(ChildProcess::Count(decode.Err(), "answers again"), 1) << decode.Err();
}

// Runs dahlo-decode on a short recording; its exit status, output and error.
struct RunResult {
    int status = -1;
    std::string out, err;
};
RunResult RunDecode(std::vector<std::string> args) {
    args.insert(args.begin(), DAHLO_DECODE_PROGRAM);
    args.push_back("-");
    ChildProcess decode(args);
    Feed(decode, Calling("k1abc", 700, 5));
    decode.CloseStdin();
    RunResult run;
    run.status = decode.Wait();
    run.out = decode.Out();
    run.err = decode.Err();
    return run;
}

TEST(SpotTool, APortOrRigThatCannotBeHadIsOneLineAndExitTwo) {
    auto occupied = std::make_unique<ChildProcess>(
        std::vector<std::string>{DAHLO_DECODE_PROGRAM, "--skim", "--spot-port", "0", "--dial",
                                 "7000", "-"});
    const int busyPort = PortFromStderr(*occupied);
    ASSERT_GT(busyPort, 0);
    const std::string nobody = "127.0.0.1:" + std::to_string(test::FreePort());

    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--skim", "--spot-port", std::to_string(busyPort), "--dial", "7000"}, "in use"},
        {{"--skim", "--spot-port", "7300", "--dial", "7000", "--listen", "10.1.2.300"},
         "--listen"},
        {{"--skim", "--spot-port", "70000"}, "--spot-port"},
        {{"--skim", "--spot-port", "7300"}, "give --dial KHZ or --rig"},
        {{"--skim", "--known-calls", "/nonexistent/MASTER.SCP"}, "cannot read"},
        {{"--skim", "--known-calls", "/proc/self/exe"}, "not a callsign"},
        {{"--skim", "--respot-minutes", "soon"}, "--respot-minutes"},
        {{"--skim", "--listen", "::1"}, "--listen"},
        {{"--spot-port", "7300"}, "need --skim"},
        {{"--rig", nobody}, "need --skim"},
        {{"--skim", "--rig", "localhost"}, "HOST:PORT"},
        {{"--skim", "--rig", nobody, "--rig-model", "1"}, "not both"},
        {{"--skim", "--rig-device", "/dev/ttyUSB0"}, "--rig-model"},
        {{"--skim", "--rig", nobody, "--dial", "14000"}, "--dial"},
        {{"--skim", "--rig", nobody}, "cannot reach the rig at " + nobody},
        {{"--skim", "--rig-model", "999999"}, "no rig model 999999"},
        {{"--skim", "--rig-model", "two"}, "--rig-model"},
    };
    for (const auto& [args, says] : cases) {
        const RunResult run = RunDecode(args);
        std::string name;
        for (const std::string& a : args) name += a + " ";
        EXPECT_EQ(run.status, 2) << name << run.err;
        EXPECT_EQ(Lines(run.err).size(), 1u) << name << run.err;
        EXPECT_NE(run.err.find(says), std::string::npos) << name << run.err;
        EXPECT_EQ(run.out, "") << name;
    }
    occupied->CloseStdin();
    EXPECT_EQ(occupied->Wait(), 2);  // no audio at all

    // A radio Hamlib drives itself: its dummy rig, which starts at 145 MHz.
    const RunResult direct = RunDecode({"--spots", "--rig-model", "1"});
    EXPECT_EQ(direct.status, 0) << direct.err;
    const std::vector<SpotSeen> spots = Spots(direct.out);
    ASSERT_EQ(spots.size(), 1u) << direct.out;
    EXPECT_NEAR(spots[0].freqKhz, 145000.7, 0.051);
}

}  // namespace
}  // namespace dahlo

// The spot server with real TCP clients on loopback: what every client gets, a client that does
// not read, clients that send junk, many clients, a clean stop, and addresses it cannot take.
#include "spots/spot_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/net_test_support.h"
#include "skimmer/spot.h"

namespace dahlo {
namespace {

using std::chrono::milliseconds;
using test::Clock;
using test::TcpClient;

Spot MakeSpot(const std::string& call, double freqKhz) {
    Spot spot;
    spot.spotter = "OK1XYZ-#";
    spot.call = call;
    spot.freqKhz = freqKhz;
    spot.snrDb = 20;
    spot.wpm = 25;
    spot.kind = SpotKind::kCq;
    spot.utc = 1'800'000'000;
    return spot;
}

bool WaitUntil(const std::function<bool()>& done, milliseconds timeout = milliseconds(5000)) {
    const auto deadline = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(milliseconds(5));
    }
    return true;
}

TEST(SpotServer, EveryLoggedInClientGetsEverySpotLineInOrder) {
    SpotServer server("127.0.0.1", 0, "OK1XYZ-#");
    TcpClient telnet(server.Port());
    TcpClient plain(server.Port());
    TcpClient silent(server.Port());  // connected, never says its call
    ASSERT_TRUE(telnet.ReadUntil(SpotServer::kPrompt));
    // A telnet client's negotiation around the call: option bytes that happen to be letters
    // ('X', 'Y') and a subnegotiation are not part of it.
    ASSERT_TRUE(
        telnet.Send("\xff\xfd\x01\xff\xfbX\xff\xfa\x18\x01"
                    "ab\xff\xf0 k1ab\xff\xfcY"
                    "c \r\n"));
    ASSERT_TRUE(telnet.ReadUntil("Spots follow.\r\n"));
    EXPECT_NE(telnet.received.find("Hello K1ABC, this is OK1XYZ-#"), std::string::npos)
        << telnet.received;
    ASSERT_TRUE(plain.LogIn("dl2xyz"));

    std::vector<std::string> sent;
    for (int i = 0; i < 5; ++i) {
        const Spot spot = MakeSpot("W" + std::to_string(i + 1) + "AW", 14020.0 + i);
        server.OnSpot(spot);
        sent.push_back(FormatDxSpot(spot));
    }
    ASSERT_TRUE(telnet.ReadUntil(sent.back() + "\r\n"));
    ASSERT_TRUE(plain.ReadUntil(sent.back() + "\r\n"));
    EXPECT_EQ(telnet.SpotLines(), sent);
    EXPECT_EQ(plain.SpotLines(), sent);
    // Every line ends in CRLF and nothing else comes between them.
    const std::string tail = plain.received.substr(plain.received.find("DX de "));
    std::string expected;
    for (const std::string& line : sent) expected += line + "\r\n";
    EXPECT_EQ(tail, expected);

    silent.ReadSome(milliseconds(200));
    EXPECT_EQ(silent.received, SpotServer::kPrompt);
    EXPECT_EQ(server.Stats().loggedIn, 2);
    EXPECT_EQ(server.Stats().connected, 3);
}

int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST(SpotServer, ClusterNodeMannersLoginAgainCommandsLateClientsKeepAliveAndGoodbyes) {
    SpotServerLimits limits;
    limits.keepAlive = milliseconds(300);
    SpotServer server("127.0.0.1", 0, "OK1XYZ-#", limits);
    TcpClient early(server.Port());
    ASSERT_TRUE(early.ReadUntil(SpotServer::kPrompt));
    ASSERT_TRUE(early.Send("my name is joe\r\nk1abc-2\r\n"));  // asked again, in one packet
    ASSERT_TRUE(early.ReadUntil(" dahlo >\r\n"));
    std::string askedAgain = "'MY NAME IS JOE' is not a callsign.\r\n";
    askedAgain.append(SpotServer::kPrompt).append("Hello K1ABC-2,");
    EXPECT_NE(early.received.find(askedAgain), std::string::npos) << early.received;
    EXPECT_NE(early.received.find("Spots follow.\r\nK1ABC-2 de OK1XYZ-# "), std::string::npos);

    std::vector<std::string> sent;
    for (int i = 0; i < 35; ++i) {
        sent.push_back(FormatDxSpot(MakeSpot("W" + std::to_string(i) + "AW", 14000.0 + i)));
        server.OnSpot(MakeSpot("W" + std::to_string(i) + "AW", 14000.0 + i));
    }
    server.Send("DX de not a spot, not replayed");
    ASSERT_TRUE(early.ReadUntil("not replayed\r\n"));
    // A command line: one answer each, the connection stays; sh/dx gives the last spots.
    early.received.clear();
    ASSERT_TRUE(early.Send("set/name Joe\r\nsh/dx 2\r\nshow dx/1\r\nsh/wwv\r\n"));
    ASSERT_TRUE(early.ReadUntil("SH/WWV"));
    ASSERT_TRUE(early.ReadUntil("dahlo >\r\n", milliseconds(2000)));
    const auto lines = [](const std::string& text) {
        std::vector<std::string> out;
        for (std::size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos;
             at = end + 2) {
            if (text.compare(at, 8, "K1ABC-2 ") != 0) out.push_back(text.substr(at, end - at));
        }
        return out;
    };
    const std::vector<std::string> answers = lines(early.received);
    ASSERT_EQ(answers.size(), 5u) << early.received;
    EXPECT_EQ(answers[0].rfind("SET/NAME", 0), 0u) << answers[0];
    EXPECT_EQ(answers[1], sent[34]);  // newest first
    EXPECT_EQ(answers[2], sent[33]);
    EXPECT_EQ(answers[3], sent[34]);
    EXPECT_EQ(answers[4].rfind("Unknown command SH/WWV", 0), 0u) << answers[4];

    // A client that joins late gets the stations active now, oldest first; sh/dx gives 30.
    TcpClient late(server.Port());
    ASSERT_TRUE(late.LogIn("dl2xyz"));
    ASSERT_TRUE(late.ReadUntil(" dahlo >\r\n"));
    EXPECT_EQ(late.SpotLines(), sent);
    late.received.clear();
    ASSERT_TRUE(late.Send("SH/DX\r\n"));
    ASSERT_TRUE(late.ReadUntil(sent[5] + "\r\n"));
    EXPECT_EQ(late.SpotLines(), std::vector<std::string>(sent.rbegin(), sent.rbegin() + 30));

    // Idle: the prompt again after the keep-alive time, and not more often.
    early.received.clear();
    for (const auto until = Clock::now() + milliseconds(1000); Clock::now() < until;) {
        early.ReadSome(milliseconds(50));
    }
    EXPECT_GE(Count(early.received, " dahlo >\r\n"), 2) << early.received;
    EXPECT_LE(Count(early.received, " dahlo >\r\n"), 4) << early.received;

    ASSERT_TRUE(late.Send("bye\r\n"));
    EXPECT_EQ(late.ReadToEnd(), TcpClient::End::kEof);
    EXPECT_NE(late.received.find("goodbye DL2XYZ"), std::string::npos) << late.received;
    server.Stop();
    EXPECT_EQ(early.ReadToEnd(), TcpClient::End::kEof);
    EXPECT_NE(early.received.find("the skimmer stops. Goodbye.\r\n"), std::string::npos);
}

TEST(SpotServer, AClientThatNeverReadsIsDroppedAndTheOthersGetEverything) {
    SpotServer server("127.0.0.1", 0, "DAHLO-#");
    TcpClient stuck(server.Port(), 4096);
    ASSERT_TRUE(stuck.LogIn("K1ABC"));
    TcpClient reader(server.Port());
    ASSERT_TRUE(reader.LogIn("W1AW"));

    // The reader reads on a thread of its own while the lines go out ten at a time, far more
    // than the stuck client's queue and socket buffers hold.
    constexpr int kLines = 6000;
    std::thread reading([&] { reader.ReadUntil("#5999 \r\n", milliseconds(30000)); });
    double slowestSendUs = 0.0;
    for (int i = 0; i < kLines; ++i) {
        const auto start = Clock::now();
        server.Send("DX de DAHLO-#:   14020.0  K1ABC        CW    20 dB  25 WPM  CQ  #" +
                    std::to_string(i) + " ");
        slowestSendUs = std::max(
            slowestSendUs, std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        if (i % 10 == 9) std::this_thread::sleep_for(milliseconds(1));
    }
    reading.join();

    const std::vector<std::string> lines = reader.SpotLines();
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kLines));
    for (int i = 0; i < kLines; i += 599) {
        EXPECT_NE(lines[static_cast<std::size_t>(i)].find("#" + std::to_string(i) + " "),
                  std::string::npos);
    }
    EXPECT_TRUE(WaitUntil([&] { return server.Stats().dropped == 1; }));
    EXPECT_EQ(server.Stats().connected, 1);
    EXPECT_EQ(server.Stats().linesLost, 0);
    // What it had taken before it stopped reading is there, then the connection ends.
    EXPECT_NE(stuck.ReadToEnd(), TcpClient::End::kTimeout);
    EXPECT_LT(stuck.SpotLines().size(), static_cast<std::size_t>(kLines));
    std::printf("slowest hand-over of a line while a client was stuck: %.1f us\n", slowestSendUs);
}

TEST(SpotServer, JunkEndlessLinesAndSlowLoginsEndOnlyThatClient) {
    SpotServerLimits limits;
    limits.loginTimeout = milliseconds(300);
    SpotServer server("127.0.0.1", 0, "DAHLO-#", limits);

    TcpClient endless(server.Port());  // one line that never ends
    TcpClient junk(server.Port());     // every byte value but a line end, and blank lines
    TcpClient slow(server.Port());     // says nothing
    TcpClient fine(server.Port());
    ASSERT_TRUE(fine.LogIn("K1ABC"));
    for (TcpClient* c : {&endless, &junk, &slow}) ASSERT_TRUE(c->ReadUntil(SpotServer::kPrompt));
    // Control bytes, bytes above 126 (no telnet command among them) and blank lines: nothing
    // that makes a call, more of it than a login may take.
    std::string binary;
    for (int b = 0; b < 255; ++b) {
        if (b < 0x20 || b > 0x7e) binary += static_cast<char>(b);
    }
    const std::string blankLines(1000, '\n');
    endless.Send(std::string(70, 'A'));
    for (int i = 0; i < 40 && junk.Send(binary + blankLines); ++i) {
    }

    EXPECT_NE(endless.ReadToEnd(), TcpClient::End::kTimeout);
    EXPECT_NE(junk.ReadToEnd(), TcpClient::End::kTimeout);
    EXPECT_NE(slow.ReadToEnd(), TcpClient::End::kTimeout);
    for (TcpClient* c : {&endless, &junk, &slow}) {
        EXPECT_EQ(c->received, SpotServer::kPrompt) << "a client that never logged in got more";
    }
    EXPECT_TRUE(WaitUntil([&] { return server.Stats().dropped == 3; }));

    // The one that logged in is still served, whatever it sends afterwards.
    ASSERT_TRUE(fine.Send(std::string(100000, 'x') + "\xff\xff\x00 sh/dx\r\n"));
    server.OnSpot(MakeSpot("DL2XYZ", 7010.0));
    EXPECT_TRUE(fine.ReadUntil("DL2XYZ"));
    EXPECT_EQ(server.Stats().connected, 1);
}

TEST(SpotServer, FiftyClientsConnectGetEverySpotQuicklyAndLeave) {
    SpotServer server("127.0.0.1", 0, "DAHLO-#");
    constexpr int kClients = 50;
    constexpr int kSpots = 40;
    std::vector<double> latenciesMs;
    for (int round = 0; round < 2; ++round) {
        std::vector<std::unique_ptr<TcpClient>> clients;
        for (int i = 0; i < kClients; ++i) {
            clients.push_back(std::make_unique<TcpClient>(server.Port()));
            std::string call = "N";  // built in steps: GCC 12's -Wrestrict misreads a + chain
            call.append(std::to_string(i)).append("CALL");
            ASSERT_TRUE(clients.back()->LogIn(call));
        }
        ASSERT_EQ(server.Stats().loggedIn, kClients);

        // One spot at a time: the time from OnSpot until each client has the whole line.
        for (int s = 0; s < kSpots; ++s) {
            const Spot spot = MakeSpot("K" + std::to_string(s) + "ZZ", 14000.0 + s + 100 * round);
            const std::string line = FormatDxSpot(spot) + "\r\n";
            const auto sent = Clock::now();
            server.OnSpot(spot);
            std::vector<bool> have(kClients, false);
            int haveCount = 0;
            while (haveCount < kClients && Clock::now() - sent < milliseconds(5000)) {
                std::vector<pollfd> fds;
                for (const auto& c : clients) fds.push_back({c->Fd(), POLLIN, 0});
                ::poll(fds.data(), fds.size(), 100);
                for (int i = 0; i < kClients; ++i) {
                    if (have[static_cast<std::size_t>(i)] ||
                        !(fds[static_cast<std::size_t>(i)].revents & POLLIN))
                        continue;
                    TcpClient& c = *clients[static_cast<std::size_t>(i)];
                    c.ReadSome(milliseconds(0));
                    if (c.received.find(line) != std::string::npos) {
                        have[static_cast<std::size_t>(i)] = true;
                        ++haveCount;
                        latenciesMs.push_back(
                            std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
                    }
                }
            }
            ASSERT_EQ(haveCount, kClients) << "spot " << s << " did not reach every client";
        }
        // The second round's clients were first given the first round's stations, active still.
        for (const auto& c : clients)
            EXPECT_EQ(c->SpotLines().size(), static_cast<std::size_t>((round + 1) * kSpots));
        clients.clear();  // all of them leave
        EXPECT_TRUE(WaitUntil([&] { return server.Stats().connected == 0; }))
            << server.Stats().connected << " clients still held";
    }
    EXPECT_EQ(server.Stats().accepted, 2 * kClients);
    EXPECT_EQ(server.Stats().dropped, 0);
    std::sort(latenciesMs.begin(), latenciesMs.end());
    const double median = latenciesMs[latenciesMs.size() / 2];
    const double p99 = latenciesMs[latenciesMs.size() * 99 / 100];
    std::printf("spot to %d clients: median %.3f ms, 99%% %.3f ms, max %.3f ms (%zu receipts)\n",
                kClients, median, p99, latenciesMs.back(), latenciesMs.size());
    EXPECT_LT(median, 100.0);
}

TEST(SpotServer, StopSendsWhatIsQueuedThenClosesEveryConnection) {
    auto server = std::make_unique<SpotServer>("127.0.0.1", 0, "DAHLO-#");
    std::vector<std::unique_ptr<TcpClient>> clients;
    for (int i = 0; i < 3; ++i) {
        clients.push_back(std::make_unique<TcpClient>(server->Port()));
        ASSERT_TRUE(clients.back()->LogIn("K" + std::to_string(i) + "ABC"));
    }
    TcpClient notLoggedIn(server->Port());
    ASSERT_TRUE(notLoggedIn.ReadUntil(SpotServer::kPrompt));
    for (int i = 0; i < 200; ++i) server->Send("DX de line " + std::to_string(i));
    server->Stop();  // at once: the lines are still on their way
    for (const auto& c : clients) {
        EXPECT_EQ(c->ReadToEnd(), TcpClient::End::kEof);  // a clean end, not a reset
        const std::vector<std::string> lines = c->SpotLines();
        ASSERT_EQ(lines.size(), 200u);
        EXPECT_EQ(lines.back(), "DX de line 199");
    }
    EXPECT_EQ(notLoggedIn.ReadToEnd(), TcpClient::End::kEof);
    server->Send("after the stop");  // ignored, no crash
    server.reset();
}

TEST(SpotServer, BadAddressesAndAPortInUseAreOneLineErrors) {
    SpotServer first("127.0.0.1", 0, "DAHLO-#");
    try {
        SpotServer second("127.0.0.1", first.Port(), "DAHLO-#");
        ADD_FAILURE() << "a second server took port " << first.Port();
    } catch (const SpotServerError& e) {
        EXPECT_NE(std::string(e.what()).find("port " + std::to_string(first.Port())),
                  std::string::npos)
            << e.what();
        EXPECT_NE(std::string(e.what()).find("in use"), std::string::npos) << e.what();
    }
    for (const char* bad : {"999.1.1.1", "example", "", "1.2.3.4.5", "::g"}) {
        EXPECT_THROW(SpotServer(bad, 0, "DAHLO-#"), SpotServerError) << bad;
    }
    // An address that is not this machine's.
    EXPECT_THROW(SpotServer("192.0.2.1", 0, "DAHLO-#"), SpotServerError);

    // IPv6 loopback, where the machine has it.
    try {
        SpotServer v6("::1", 0, "DAHLO-#");
        EXPECT_EQ(v6.Address(), "::1");
        const int fd = ::socket(AF_INET6, SOCK_STREAM, 0);
        sockaddr_in6 addr{};
        addr.sin6_family = AF_INET6;
        addr.sin6_port = htons(static_cast<std::uint16_t>(v6.Port()));
        addr.sin6_addr = in6addr_loopback;
        EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        char prompt[64] = {};
        EXPECT_GT(::recv(fd, prompt, sizeof prompt - 1, 0), 0);
        EXPECT_STREQ(prompt, SpotServer::kPrompt);
        ::close(fd);
    } catch (const SpotServerError& e) {
        std::printf("no IPv6 loopback here, not tested: %s\n", e.what());
    }
}

}  // namespace
}  // namespace dahlo

#pragma once
// The spot server: a telnet port that loggers connect to as to a DX-cluster node. Each client is
// asked for its callsign (until it gives one), greeted, given the spots of the stations active
// now and a prompt, then every new spot line. It answers sh/dx [N] with the last N spots, newest
// first, bye or quit with a goodbye, anything else with one line; an idle client gets the prompt
// every few minutes, and every client a goodbye when the server stops. The network runs on a
// thread of its own; the skimmer's thread only hands a line over through a short bounded queue,
// so neither a slow client nor many of them can hold up the decoding. Each client has a bounded
// queue of its own and is dropped when it overflows.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "skimmer/spot.h"

namespace dahlo {

class SpotServerError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct SpotServerLimits {
    std::size_t queueLines = 256;  // per client, waiting to be sent
    std::size_t queueBytes = 64 * 1024;
    std::size_t callLength = 64;    // the login line
    std::size_t loginBytes = 4096;  // everything a client may send before its callsign
    std::chrono::milliseconds loginTimeout{60'000};
    std::size_t maxClients = 1000;
    std::size_t handOverLines = 4096;  // skimmer to network thread
    int sendBufferBytes = 32 * 1024;   // the kernel's share per client
    std::size_t commandLength = 256;   // a command line after the login
    std::chrono::milliseconds keepAlive{180'000};  // an idle client gets the prompt again
    std::size_t historyLines = 100;    // spots kept for sh/dx
    std::chrono::milliseconds activeFor{600'000};  // a new client gets the spots this recent
};

// What happened so far; any thread.
struct SpotServerStats {
    std::int64_t connected = 0;  // clients now connected, logged in or not
    std::int64_t loggedIn = 0;   // of those, logged in
    std::int64_t accepted = 0;   // ever
    std::int64_t dropped = 0;    // ended by the server: overflow, junk, a login too slow
    std::int64_t linesLost = 0;  // handed over faster than the network thread took them
};

class SpotServerCore;

class SpotServer final : public SpotListener {
  public:
    static constexpr const char* kPrompt = "Please enter your callsign: ";

    // Listens on `address` (an IPv4 or IPv6 address or a host name; "127.0.0.1" by default)
    // and `port` (0: any free port) and starts the network thread. Throws SpotServerError, one
    // line, when the address is bad or the port is in use.
    SpotServer(const std::string& address, int port, std::string nodeCall,
               SpotServerLimits limits = {});
    // Stop() with the default time.
    ~SpotServer();
    SpotServer(const SpotServer&) = delete;
    SpotServer& operator=(const SpotServer&) = delete;

    // The port and address it listens on.
    int Port() const;
    std::string Address() const;

    // A spot as a DX-cluster line to every logged-in client. Any thread; never blocks on the
    // network.
    void OnSpot(const Spot& spot) override;
    // A line (without line end) to every logged-in client, as OnSpot; not kept for sh/dx.
    void Send(std::string line);

    // Stops taking clients, sends every client what is queued for it, closes each connection
    // (a client that does not take its lines within `flushFor` is cut off) and ends the
    // network thread. Lines handed over before Stop are sent.
    void Stop(std::chrono::milliseconds flushFor = std::chrono::milliseconds(2000));

    SpotServerStats Stats() const;

  private:
    void HandOver(std::string line, std::string call);

    std::unique_ptr<SpotServerCore> impl_;
};

}  // namespace dahlo

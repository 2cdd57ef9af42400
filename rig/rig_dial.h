#pragma once
// The radio's dial frequency through Hamlib: a rigctld over the network (Hamlib's NET rigctl
// model) or a radio Hamlib drives directly. A thread of its own asks about once a second; the
// skimmer's thread only reads an atomic, so a slow or lost rig never holds up the decoding.

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

namespace dahlo {

struct RigConfig {
    // Either a rigctld's "HOST:PORT" (address non-empty) or a Hamlib model number with its device
    // (a serial port, a USB or network path; empty for the model's default).
    std::string address;
    int model = 0;
    std::string device;
    std::chrono::milliseconds pollEvery{1000};
};

class RigError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class RigDial {
  public:
    // Opens the rig and reads its dial once. Throws RigError, one line, when Hamlib has no such
    // model or the rig does not answer.
    explicit RigDial(const RigConfig& config);
    // Stops polling; a poll stuck in Hamlib is given up after a few seconds.
    ~RigDial();
    RigDial(const RigDial&) = delete;
    RigDial& operator=(const RigDial&) = delete;

    // Polls from now on, on a thread of its own. A lost rig gets one warning line on `err`, its
    // return one more line; in between the last dial stays.
    void Start(std::FILE* err);

    // The last dial read, in kHz. Any thread.
    double DialKhz() const;
    // Where the rig is, for messages: "HOST:PORT" or "model N on DEV".
    std::string Name() const;

  private:
    struct State;
    std::shared_ptr<State> state_;
    std::thread poller_;
};

}  // namespace dahlo

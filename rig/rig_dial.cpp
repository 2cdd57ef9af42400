#include "rig/rig_dial.h"

#include <hamlib/rig.h>
#include <pthread.h>

#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <mutex>
#include <thread>

namespace dahlo {

namespace {

constexpr double kHighestDialKhz = 1e8;  // 100 GHz: anything above is not a dial
constexpr auto kGiveUpStop = std::chrono::seconds(3);

// Hamlib's error text without the debug trail some versions append after a line end.
std::string ErrorText(int code) {
    std::string text = rigerror2(code);
    const auto end = text.find_first_of("\r\n");
    if (end != std::string::npos) text.resize(end);
    while (!text.empty() && (text.back() == ' ' || text.back() == '.')) text.pop_back();
    return text.empty() ? "error " + std::to_string(code) : text;
}

void SetConf(RIG* rig, const char* name, const std::string& value) {
    const auto token = rig_token_lookup(rig, name);
    if (token != RIG_CONF_END) rig_set_conf(rig, token, value.c_str());
}

}  // namespace

struct RigDial::State {
    RigConfig config;
    RIG* rig = nullptr;
    bool open = false;
    std::atomic<double> dialKhz{0.0};

    std::mutex mutex;
    std::condition_variable wake;
    bool stop = false;
    bool finished = false;
    std::condition_variable done;

    ~State() { Disconnect(); }

    std::string Name() const {
        if (!config.address.empty()) return config.address;
        return "model " + std::to_string(config.model) +
               (config.device.empty() ? "" : " on " + config.device);
    }

    // The dial in kHz, or an error text.
    bool Read(double& khz, std::string& why) {
        freq_t hz = 0.0;
        const int status = rig_get_freq(rig, RIG_VFO_CURR, &hz);
        if (status != RIG_OK) {
            why = ErrorText(status);
            return false;
        }
        khz = static_cast<double>(hz) / 1000.0;
        if (!std::isfinite(khz) || khz <= 0.0 || khz > kHighestDialKhz) {
            char text[96];
            std::snprintf(text, sizeof text, "it answered a dial of %g Hz",
                          static_cast<double>(hz));
            why = text;
            return false;
        }
        return true;
    }

    // A fresh Hamlib rig each time: reopening one that was lost leaves some of its state
    // behind.
    bool Connect(std::string& why) {
        Disconnect();
        rig = rig_init(Model());
        if (rig == nullptr) {
            why = "Hamlib knows no rig model " + std::to_string(Model());
            return false;
        }
        const std::string path = config.address.empty() ? config.device : config.address;
        if (!path.empty()) SetConf(rig, "rig_pathname", path);
        // A poll should fail within a second or two, not hold on for Hamlib's default retries.
        SetConf(rig, "timeout", "1000");
        SetConf(rig, "retry", "1");
        // The poll is the cache: every reading must come from the rig.
        rig_set_cache_timeout_ms(rig, HAMLIB_CACHE_ALL, 0);
        const int status = rig_open(rig);
        if (status != RIG_OK) {
            why = ErrorText(status);
            return false;
        }
        open = true;
        return true;
    }

    void Disconnect() {
        if (rig == nullptr) return;
        if (open) rig_close(rig);
        rig_cleanup(rig);
        rig = nullptr;
        open = false;
    }

    rig_model_t Model() const {
        return config.address.empty() ? static_cast<rig_model_t>(config.model)
                                      : RIG_MODEL_NETRIGCTL;
    }

    void Poll(std::FILE* err) {
        // Ctrl-C belongs to the decoding thread: it must interrupt a read from standard input.
        sigset_t stops;
        sigemptyset(&stops);
        sigaddset(&stops, SIGINT);
        sigaddset(&stops, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &stops, nullptr);
        bool lost = false;
        std::unique_lock<std::mutex> lock(mutex);
        while (!wake.wait_for(lock, config.pollEvery, [this] { return stop; })) {
            lock.unlock();
            double khz = 0.0;
            std::string why;
            bool ok = (!lost || Connect(why)) && Read(khz, why);
            if (!ok && !lost) {
                // One more try over a fresh connection before calling it lost: rigctld may
                // have been restarted between two polls.
                ok = Connect(why) && Read(khz, why);
            }
            if (ok) {
                dialKhz.store(khz);
                if (lost) {
                    std::fprintf(err, "dahlo-decode: the rig at %s answers again: dial %.1f kHz\n",
                                 Name().c_str(), khz);
                    std::fflush(err);
                }
                lost = false;
            } else if (!lost) {
                std::fprintf(err,
                             "dahlo-decode: warning: lost the rig at %s (%s); skimming on with "
                             "the dial at %.1f kHz\n",
                             Name().c_str(), why.c_str(), dialKhz.load());
                std::fflush(err);
                lost = true;
            }
            lock.lock();
        }
        finished = true;
        done.notify_all();
    }
};

RigDial::RigDial(const RigConfig& config) : state_(std::make_shared<State>()) {
    state_->config = config;
    rig_set_debug(RIG_DEBUG_NONE);
    const std::string path = config.address.empty() ? config.device : config.address;
    if (path.size() >= HAMLIB_FILPATHLEN) throw RigError("the rig's device name is too long");
    rig_check_backend(state_->Model());
    if (rig_get_caps(state_->Model()) == nullptr) {
        throw RigError("option --rig-model: Hamlib knows no rig model " +
                       std::to_string(config.model) + " (rigctl --list shows them)");
    }
    std::string why;
    if (!state_->Connect(why)) throw RigError("cannot reach the rig at " + Name() + ": " + why);
    double khz = 0.0;
    if (!state_->Read(khz, why)) {
        throw RigError("cannot read the dial of the rig at " + Name() + ": " + why);
    }
    state_->dialKhz.store(khz);
}

RigDial::~RigDial() {
    if (!poller_.joinable()) return;
    bool finished = false;
    {
        std::unique_lock<std::mutex> lock(state_->mutex);
        state_->stop = true;
        state_->wake.notify_all();
        finished = state_->done.wait_for(lock, kGiveUpStop, [this] { return state_->finished; });
    }
    // A poller stuck in a Hamlib call (a serial port or host gone silent) keeps its own
    // reference to the state and ends with the program.
    if (finished) {
        poller_.join();
    } else {
        poller_.detach();
    }
}

void RigDial::Start(std::FILE* err) {
    if (poller_.joinable()) return;
    poller_ = std::thread([state = state_, err] { state->Poll(err); });
}

double RigDial::DialKhz() const {
    return state_->dialKhz.load();
}

std::string RigDial::Name() const {
    return state_->Name();
}

}  // namespace dahlo

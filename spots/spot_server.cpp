#include "spots/spot_server.h"

#include <cerrno>
#include <pthread.h>

#include <array>
#include <asio.hpp>
#include <atomic>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <map>
#include <deque>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <thread>
#include <vector>

#include "spots/node_commands.h"
#include "spots/telnet_login.h"

namespace dahlo {

using asio::ip::tcp;

namespace {

constexpr auto kAcceptRetry = std::chrono::milliseconds(200);

// "09-Dec-2026 0612Z", as cluster nodes show the time in their prompt; no locale.
std::string NodeTime() {
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    char text[32];
    std::snprintf(text, sizeof text, "%02d-%s-%04d %02d%02dZ", tm.tm_mday, kMonths[tm.tm_mon % 12],
                  tm.tm_year + 1900, tm.tm_hour, tm.tm_min);
    return text;
}

}  // namespace

class Session;

class SpotServerCore {
  public:
    SpotServerCore(std::string nodeCall, SpotServerLimits limits)
        : limits(limits), nodeCall(std::move(nodeCall)) {}

    void Accept();
    // Hands what the skimmer's thread queued to every logged-in client.
    void Drain();
    void BeginStop(std::chrono::milliseconds flushFor);
    void Closed(const std::shared_ptr<Session>& session, bool dropped, bool wasLoggedIn);

    asio::io_context io;  // first: it outlives every socket and timer below
    tcp::acceptor acceptor{io};
    asio::steady_timer acceptRetry{io};
    asio::steady_timer stopDeadline{io};
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work;
    std::thread thread;
    SpotServerLimits limits;
    std::string nodeCall;
    tcp::endpoint endpoint;

    // The network thread's own.
    std::set<std::shared_ptr<Session>> sessions;
    bool stopping = false;

    // The last spots for sh/dx, and the last spot of each call for a new client (network thread).
    std::deque<std::string> recent;
    struct Active {
        std::string line;
        std::chrono::steady_clock::time_point when;
        std::uint64_t order;  // of the hand-over: several share one time
    };
    std::uint64_t spotsTaken = 0;
    std::map<std::string, Active> active;

    // Between the skimmer's thread and the network thread: lines and their calls (empty: a line
    // that is not a spot).
    struct HandOver {
        std::string line;
        std::string call;
    };
    std::mutex handOverMutex;
    std::deque<HandOver> handOver;
    bool drainPosted = false;
    bool stopped = false;  // under handOverMutex

    std::atomic<std::int64_t> connected{0};
    std::atomic<std::int64_t> loggedIn{0};
    std::atomic<std::int64_t> accepted{0};
    std::atomic<std::int64_t> dropped{0};
    std::atomic<std::int64_t> linesLost{0};
};

// One client, on the network thread only.
class Session : public std::enable_shared_from_this<Session> {
  public:
    Session(SpotServerCore& server, tcp::socket socket)
        : server_(server),
          socket_(std::move(socket)),
          loginTimer_(server.io),
          keepAliveTimer_(server.io),
          login_(server.limits.callLength, server.limits.loginBytes),
          command_(server.limits.commandLength, SIZE_MAX) {}

    void Start() {
        Queue(SpotServer::kPrompt);
        loginTimer_.expires_after(server_.limits.loginTimeout);
        loginTimer_.async_wait([self = shared_from_this()](const asio::error_code& ec) {
            if (!ec && !self->loggedIn_) self->Close(true);
        });
        Read();
    }

    bool LoggedIn() const { return loggedIn_; }

    // A spot line (with its line end).
    void Spot(const std::string& line) {
        if (closed_ || !loggedIn_ || finishing_) return;
        Bounded(line);
    }

    // The server stops: what is queued and a goodbye go out, then the connection is closed
    // from our side.
    void Finish() {
        if (closed_) return;
        if (!loggedIn_) {
            Close(false);
            return;
        }
        Leave("73 de " + server_.nodeCall + ": the skimmer stops. Goodbye.\r\n");
    }

    void Close(bool dropped) {
        if (closed_) return;
        closed_ = true;
        asio::error_code ignored;
        socket_.close(ignored);
        loginTimer_.cancel();
        keepAliveTimer_.cancel();
        server_.Closed(shared_from_this(), dropped, loggedIn_);
    }

  private:
    void Queue(std::string line) {
        queuedBytes_ += line.size();
        queue_.push_back(std::move(line));
        lastSent_ = std::chrono::steady_clock::now();
        Write();
    }

    // Queues within the client's limits; a client that does not read is dropped, since letting
    // it queue would cost everyone memory.
    void Bounded(const std::string& line) {
        if (queue_.size() >= server_.limits.queueLines ||
            queuedBytes_ + line.size() > server_.limits.queueBytes) {
            Close(true);
            return;
        }
        Queue(line);
    }

    // The last line to this client, then a clean end.
    void Leave(const std::string& line) {
        if (finishing_) return;
        Bounded(line);
        if (closed_) return;
        finishing_ = true;
        if (!writing_ && queue_.empty()) EndSending();
    }

    void Write() {
        if (writing_ || closed_ || queue_.empty()) return;
        sending_.clear();
        for (const std::string& line : queue_) sending_ += line;
        queue_.clear();
        queuedBytes_ = 0;
        writing_ = true;
        asio::async_write(socket_, asio::buffer(sending_),
                          [self = shared_from_this()](const asio::error_code& ec, std::size_t) {
                              self->writing_ = false;
                              if (self->closed_) return;
                              if (ec) {
                                  self->Close(false);
                                  return;
                              }
                              self->Write();
                              if (self->finishing_ && !self->writing_) self->EndSending();
                          });
    }

    // Everything is with the kernel: it sends it and then the end of the connection. What the
    // client sent is read first, since closing over unread bytes would reset the connection.
    void EndSending() {
        asio::error_code ec;
        socket_.shutdown(tcp::socket::shutdown_send, ec);
        for (int i = 0; i < 16 && !ec && socket_.available(ec) > 0; ++i) {
            socket_.read_some(asio::buffer(in_), ec);
        }
        Close(false);
    }

    void Read() {
        socket_.async_read_some(asio::buffer(in_), [self = shared_from_this()](
                                                       const asio::error_code& ec, std::size_t n) {
            if (self->closed_) return;
            if (ec) {
                self->Close(false);  // the client left
                return;
            }
            if (!self->Take(self->in_.data(), n)) {
                self->Close(true);
                return;
            }
            if (!self->closed_) self->Read();
        });
    }

    // The login, then command lines; false when the client sends too much before its call.
    bool Take(const unsigned char* bytes, std::size_t count) {
        while (count > 0 && !closed_ && !finishing_) {
            if (!loggedIn_) {
                const LoginReader::State state = login_.Feed(bytes, count);
                const std::size_t used = login_.Used();
                bytes += used;
                count -= used;
                loginBytes_ += used;
                if (state == LoginReader::State::kRefused) return false;
                if (state == LoginReader::State::kReading) return true;
                if (IsLoginCall(login_.Call())) {
                    LoggedInAs();
                } else {
                    Queue("Sorry, '" + login_.Call() + "' is not a callsign.\r\n" +
                          SpotServer::kPrompt);
                    const std::size_t left = server_.limits.loginBytes > loginBytes_
                                                 ? server_.limits.loginBytes - loginBytes_
                                                 : 0;
                    login_ = LoginReader(server_.limits.callLength, left);
                }
            } else if (skipLine_) {
                // The rest of a line too long to be a command.
                while (count > 0 && *bytes != '\r' && *bytes != '\n') {
                    ++bytes;
                    --count;
                }
                if (count > 0) skipLine_ = false;
            } else {
                const LoginReader::State state = command_.Feed(bytes, count);
                bytes += command_.Used();
                count -= command_.Used();
                if (state == LoginReader::State::kReading) return true;
                if (state == LoginReader::State::kRefused) {
                    skipLine_ = true;
                    Answer("That line is too long for a command.");
                } else {
                    Command(command_.Call());
                }
                command_ = LoginReader(server_.limits.commandLength, SIZE_MAX);
            }
        }
        return true;
    }

    std::string Prompt() const {
        return login_.Call() + " de " + server_.nodeCall + " " + NodeTime() + " dahlo >\r\n";
    }

    void Answer(const std::string& line) { Bounded(line + "\r\n" + Prompt()); }

    // One command line (upper case).
    void Command(const std::string& line) {
        const NodeRequest request = ReadNodeCommand(line);
        switch (request.kind) {
            case NodeRequest::Kind::kBye:
                Leave("73 de " + server_.nodeCall + ", goodbye " + login_.Call() + ".\r\n");
                break;
            case NodeRequest::Kind::kShowDx: {
                // Newest first, as cluster nodes list them.
                const std::deque<std::string>& recent = server_.recent;
                const std::size_t count =
                    std::min(recent.size(), static_cast<std::size_t>(request.count));
                std::string lines;
                for (std::size_t i = 0; i < count; ++i) lines += recent[recent.size() - 1 - i];
                Bounded(lines + Prompt());
                break;
            }
            case NodeRequest::Kind::kAnswer:
                Answer(request.line);
                break;
        }
    }

    void LoggedInAs() {
        loggedIn_ = true;
        loginTimer_.cancel();
        ++server_.loggedIn;
        std::string welcome = "Hello " + login_.Call() + ", this is " + server_.nodeCall +
                              ", a Dahlo CW skimmer. Spots follow.\r\n";
        // The stations active now, so a client that joins late has the band at once.
        std::vector<const SpotServerCore::Active*> now;
        for (const auto& [call, spot] : server_.active) now.push_back(&spot);
        std::sort(now.begin(), now.end(), [](auto* a, auto* b) { return a->order < b->order; });
        for (const auto* spot : now) welcome += spot->line;
        Queue(welcome + Prompt());
        KeepAlive();
    }

    void KeepAlive() {
        keepAliveTimer_.expires_after(server_.limits.keepAlive);
        keepAliveTimer_.async_wait([self = shared_from_this()](const asio::error_code& ec) {
            if (ec || self->closed_ || self->finishing_) return;
            if (std::chrono::steady_clock::now() - self->lastSent_ >= self->server_.limits.keepAlive) {
                self->Bounded(self->Prompt());
            }
            if (!self->closed_) self->KeepAlive();
        });
    }

    SpotServerCore& server_;
    tcp::socket socket_;
    asio::steady_timer loginTimer_;
    asio::steady_timer keepAliveTimer_;
    std::array<unsigned char, 1024> in_{};
    LoginReader login_;
    std::size_t loginBytes_ = 0;
    LoginReader command_;
    bool skipLine_ = false;
    bool loggedIn_ = false;
    std::deque<std::string> queue_;
    std::size_t queuedBytes_ = 0;
    std::string sending_;
    std::chrono::steady_clock::time_point lastSent_;
    bool writing_ = false;
    bool finishing_ = false;
    bool closed_ = false;
};

void SpotServerCore::Accept() {
    acceptor.async_accept([this](const asio::error_code& ec, tcp::socket socket) {
        if (stopping || ec == asio::error::operation_aborted) return;
        if (ec) {
            // Out of descriptors, or a client gone before it was taken: try again shortly.
            acceptRetry.expires_after(kAcceptRetry);
            acceptRetry.async_wait([this](const asio::error_code& e) {
                if (!e && !stopping) Accept();
            });
            return;
        }
        if (sessions.size() >= limits.maxClients) {
            asio::error_code ignored;
            socket.close(ignored);
        } else {
            asio::error_code ignored;
            socket.set_option(asio::socket_base::send_buffer_size(limits.sendBufferBytes), ignored);
            socket.set_option(tcp::no_delay(true), ignored);
            auto session = std::make_shared<Session>(*this, std::move(socket));
            sessions.insert(session);
            ++accepted;
            ++connected;
            session->Start();
        }
        Accept();
    });
}

void SpotServerCore::Drain() {
    std::deque<HandOver> lines;
    {
        std::lock_guard<std::mutex> lock(handOverMutex);
        lines.swap(handOver);
        drainPosted = false;
    }
    if (lines.empty()) return;
    // A client may be dropped (and leave the set) while its line is queued.
    const std::vector<std::shared_ptr<Session>> clients(sessions.begin(), sessions.end());
    const auto now = std::chrono::steady_clock::now();
    for (const HandOver& item : lines) {
        for (const auto& client : clients) client->Spot(item.line);
        if (item.call.empty()) continue;
        recent.push_back(item.line);
        if (recent.size() > limits.historyLines) recent.pop_front();
        active[item.call] = {item.line, now, spotsTaken++};
    }
    std::erase_if(active, [&](const auto& entry) { return now - entry.second.when > limits.activeFor; });
}

void SpotServerCore::BeginStop(std::chrono::milliseconds flushFor) {
    Drain();
    stopping = true;
    asio::error_code ignored;
    acceptor.close(ignored);
    acceptRetry.cancel();
    work.reset();
    const std::vector<std::shared_ptr<Session>> clients(sessions.begin(), sessions.end());
    for (const auto& client : clients) client->Finish();
    if (sessions.empty()) return;
    stopDeadline.expires_after(flushFor);
    stopDeadline.async_wait([this](const asio::error_code&) {
        const std::vector<std::shared_ptr<Session>> left(sessions.begin(), sessions.end());
        for (const auto& client : left) client->Close(false);
    });
}

void SpotServerCore::Closed(const std::shared_ptr<Session>& session, bool wasDropped,
                            bool wasLoggedIn) {
    sessions.erase(session);
    --connected;
    if (wasLoggedIn) --loggedIn;
    if (wasDropped) ++dropped;
    if (stopping && sessions.empty()) stopDeadline.cancel();
}

SpotServer::SpotServer(const std::string& address, int port, std::string nodeCall,
                       SpotServerLimits limits)
    : impl_(std::make_unique<SpotServerCore>(std::move(nodeCall), limits)) {
    std::string host = address;
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    if (host == "localhost") host = "127.0.0.1";
    asio::error_code ec;
    const asio::ip::address ip = asio::ip::make_address(host, ec);
    if (ec) {
        throw SpotServerError("option --listen: '" + address +
                              "' is not an IPv4 or IPv6 address of this machine");
    }
    if (port < 0 || port > 65535) {
        throw SpotServerError("option --spot-port: " + std::to_string(port) +
                              " is not a port (0..65535)");
    }
    const tcp::endpoint wanted(ip, static_cast<unsigned short>(port));
    tcp::acceptor& acceptor = impl_->acceptor;
    auto fail = [&](const asio::error_code& e) {
        return SpotServerError("cannot listen for spot clients on " + ip.to_string() + " port " +
                               std::to_string(port) + ": " + e.message());
    };
    acceptor.open(wanted.protocol(), ec);
    if (ec) throw fail(ec);
    // A restart right after a stop may take the port its connections still hold.
    acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
    acceptor.bind(wanted, ec);
    if (ec) throw fail(ec);
    acceptor.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) throw fail(ec);
    impl_->endpoint = acceptor.local_endpoint(ec);
    if (ec) throw fail(ec);

    impl_->work.emplace(impl_->io.get_executor());
    impl_->Accept();
    impl_->thread = std::thread([impl = impl_.get()] {
        // Ctrl-C belongs to the decoding thread: it must interrupt a read from standard input.
        sigset_t stops;
        sigemptyset(&stops);
        sigaddset(&stops, SIGINT);
        sigaddset(&stops, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &stops, nullptr);
        for (;;) {
            try {
                impl->io.run();
                return;
            } catch (const std::exception& e) {
                // Nothing a client sends gets here; running short of memory might.
                // The program that runs the server names itself: the window or dahlo-decode.
                std::fprintf(stderr, "%s: spot server: %s\n", program_invocation_short_name,
                             e.what());
            }
        }
    });
}

SpotServer::~SpotServer() {
    Stop();
}

int SpotServer::Port() const {
    return impl_->endpoint.port();
}

std::string SpotServer::Address() const {
    return impl_->endpoint.address().to_string();
}

void SpotServer::OnSpot(const Spot& spot) {
    HandOver(FormatDxSpot(spot), spot.call);
}

void SpotServer::Send(std::string line) {
    HandOver(std::move(line), std::string());
}

void SpotServer::HandOver(std::string line, std::string call) {
    line += "\r\n";
    std::lock_guard<std::mutex> lock(impl_->handOverMutex);
    if (impl_->stopped) return;
    if (impl_->handOver.size() >= impl_->limits.handOverLines) {
        ++impl_->linesLost;
        return;
    }
    impl_->handOver.push_back({std::move(line), std::move(call)});
    if (!impl_->drainPosted) {
        impl_->drainPosted = true;
        asio::post(impl_->io, [impl = impl_.get()] { impl->Drain(); });
    }
}

void SpotServer::Stop(std::chrono::milliseconds flushFor) {
    {
        std::lock_guard<std::mutex> lock(impl_->handOverMutex);
        if (impl_->stopped) return;
        impl_->stopped = true;
    }
    asio::post(impl_->io, [impl = impl_.get(), flushFor] { impl->BeginStop(flushFor); });
    if (impl_->thread.joinable()) impl_->thread.join();
}

SpotServerStats SpotServer::Stats() const {
    SpotServerStats stats;
    stats.connected = impl_->connected.load();
    stats.loggedIn = impl_->loggedIn.load();
    stats.accepted = impl_->accepted.load();
    stats.dropped = impl_->dropped.load();
    stats.linesLost = impl_->linesLost.load();
    return stats;
}

}  // namespace dahlo

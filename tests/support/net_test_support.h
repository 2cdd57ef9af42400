#pragma once
// Real parts for the spot server and rig tests: a TCP client on loopback, a child process with
// its standard streams on pipes, and Hamlib's rigctld with its dummy rig on a free port.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

extern char** environ;

namespace dahlo::test {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A port nobody listens on right now.
inline int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t length = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
    ::close(fd);
    return ntohs(addr.sin_port);
}

class TcpClient {
  public:
    enum class End { kEof, kReset, kTimeout };

    // Connects to 127.0.0.1:port; `receiveBuffer` > 0 shrinks the socket's receive buffer.
    explicit TcpClient(int port, int receiveBuffer = 0) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        if (receiveBuffer > 0) {
            ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        }
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<std::uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    }
    ~TcpClient() {
        if (fd_ >= 0) ::close(fd_);
    }
    TcpClient(const TcpClient&) = delete;
    TcpClient& operator=(const TcpClient&) = delete;

    bool Connected() const { return connected_; }
    int Fd() const { return fd_; }

    // False when the server has closed the connection.
    bool Send(std::string_view bytes) {
        while (!bytes.empty()) {
            const ssize_t put = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) return false;
            bytes.remove_prefix(static_cast<std::size_t>(put));
        }
        return true;
    }

    // Reads what has come within `wait`; the end of the connection when it ended.
    std::optional<End> ReadSome(milliseconds wait) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(wait.count())) <= 0) return std::nullopt;
        char buffer[65536];
        const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
        if (got == 0) return End::kEof;
        if (got < 0)
            return errno == EINTR || errno == EAGAIN ? std::nullopt : std::optional(End::kReset);
        received.append(buffer, static_cast<std::size_t>(got));
        return std::nullopt;
    }

    bool ReadUntil(std::string_view needle, milliseconds timeout = milliseconds(10000)) {
        const auto deadline = Clock::now() + timeout;
        while (received.find(needle) == std::string::npos) {
            if (Clock::now() > deadline || ReadSome(milliseconds(50))) return false;
        }
        return true;
    }

    // Reads until the server ends the connection.
    End ReadToEnd(milliseconds timeout = milliseconds(10000)) {
        const auto deadline = Clock::now() + timeout;
        while (Clock::now() < deadline) {
            if (const auto end = ReadSome(milliseconds(50))) return *end;
        }
        return End::kTimeout;
    }

    // Answers the login prompt and waits for the welcome line.
    bool LogIn(std::string_view call) {
        return ReadUntil("Please enter your callsign: ") && Send(std::string(call) + "\r\n") &&
               ReadUntil("Spots follow.\r\n");
    }

    // The "DX de" lines received so far, without their CRLF.
    std::vector<std::string> SpotLines() const {
        std::vector<std::string> lines;
        std::size_t at = 0;
        for (std::size_t end; (end = received.find("\r\n", at)) != std::string::npos;
             at = end + 2) {
            if (received.compare(at, 6, "DX de ") == 0)
                lines.push_back(received.substr(at, end - at));
        }
        return lines;
    }

    std::string received;

  private:
    int fd_ = -1;
    bool connected_ = false;
};

// A program with its standard input, output and error on pipes, read as they come.
class ChildProcess {
  public:
    explicit ChildProcess(const std::vector<std::string>& args, bool quiet = false) {
        ::signal(SIGPIPE, SIG_IGN);  // a child that has ended makes a write fail, not kill us
        int in[2], out[2], err[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 ||
            ::pipe2(err, O_CLOEXEC) != 0) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        if (quiet) {
            posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
            posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        } else {
            posix_spawn_file_actions_adddup2(&actions, out[1], 1);
            posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        }
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        if (posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        ::close(err[1]);
        stdin_ = in[1];
        readers_.emplace_back([this, fd = out[0]] { Collect(fd, out_); });
        readers_.emplace_back([this, fd = err[0]] { Collect(fd, err_); });
    }
    ~ChildProcess() {
        CloseStdin();
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGKILL);
            Wait(milliseconds(5000));
        }
        for (std::thread& t : readers_) {
            if (t.joinable()) t.join();
        }
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }

    bool Write(const void* data, std::size_t size) {
        const char* bytes = static_cast<const char*>(data);
        while (size > 0) {
            const ssize_t put = ::write(stdin_, bytes, size);
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) return false;
            bytes += put;
            size -= static_cast<std::size_t>(put);
        }
        return true;
    }
    void CloseStdin() {
        if (stdin_ >= 0) ::close(stdin_);
        stdin_ = -1;
    }
    void Signal(int signal) {
        if (pid_ > 0 && !exited_) ::kill(pid_, signal);
    }

    // The exit status, or -1 when it has not ended within `timeout`.
    int Wait(milliseconds timeout = milliseconds(20000)) {
        const auto deadline = Clock::now() + timeout;
        while (!exited_) {
            int status = 0;
            const pid_t done = ::waitpid(pid_, &status, WNOHANG);
            if (done == pid_) {
                exited_ = true;
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                // What it wrote last may still be in the pipes: read them to their end, so
                // that Out() and Err() hold everything once Wait has returned.
                for (std::thread& t : readers_) {
                    if (t.joinable()) t.join();
                }
                break;
            }
            if (Clock::now() > deadline) return -1;
            std::this_thread::sleep_for(milliseconds(10));
        }
        return status_;
    }

    std::string Out() {
        std::lock_guard<std::mutex> lock(mutex_);
        return out_;
    }
    std::string Err() {
        std::lock_guard<std::mutex> lock(mutex_);
        return err_;
    }
    // Waits until standard output (or error) holds `needle` `count` times.
    bool WaitForOut(std::string_view needle, int count = 1,
                    milliseconds timeout = milliseconds(20000)) {
        return WaitFor(out_, needle, count, timeout);
    }
    bool WaitForErr(std::string_view needle, int count = 1,
                    milliseconds timeout = milliseconds(20000)) {
        return WaitFor(err_, needle, count, timeout);
    }

    static int Count(const std::string& text, std::string_view needle) {
        int n = 0;
        for (std::size_t at = text.find(needle); at != std::string::npos;
             at = text.find(needle, at + needle.size())) {
            ++n;
        }
        return n;
    }

  private:
    void Collect(int fd, std::string& into) {
        char buffer[4096];
        for (;;) {
            const ssize_t got = ::read(fd, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            std::lock_guard<std::mutex> lock(mutex_);
            into.append(buffer, static_cast<std::size_t>(got));
            changed_.notify_all();
        }
        ::close(fd);
    }
    bool WaitFor(const std::string& text, std::string_view needle, int count,
                 milliseconds timeout) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return Count(text, needle) >= count; });
    }

    pid_t pid_ = -1;
    int stdin_ = -1;
    bool exited_ = false;
    int status_ = -1;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string out_, err_;
    std::vector<std::thread> readers_;
};

// Whether a program is on PATH.
inline bool OnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    if (path == nullptr) return false;
    std::string dirs = path;
    for (std::size_t at = 0; at <= dirs.size();) {
        const std::size_t end = std::min(dirs.find(':', at), dirs.size());
        if (::access((dirs.substr(at, end - at) + "/" + program).c_str(), X_OK) == 0) return true;
        at = end + 1;
    }
    return false;
}

// Hamlib's rigctld with its dummy rig (model 1) on 127.0.0.1:port.
class Rigctld {
  public:
    explicit Rigctld(int port) : port_(port) { Start(); }

    int Port() const { return port_; }
    std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }

    // Starts it again on the same port after Kill.
    bool Start() {
        process_ = std::make_unique<ChildProcess>(
            std::vector<std::string>{"rigctld", "-m", "1", "-T", "127.0.0.1", "-t",
                                     std::to_string(port_)},
            true);
        const auto deadline = Clock::now() + milliseconds(5000);
        while (Clock::now() < deadline) {
            if (TcpClient(port_).Connected()) return true;
            std::this_thread::sleep_for(milliseconds(20));
        }
        return false;
    }
    void Kill() {
        process_->Signal(SIGKILL);
        process_->Wait();
    }
    // Tunes the dummy rig through rigctld's own protocol; true on "RPRT 0".
    bool SetFrequencyHz(long hz) {
        TcpClient client(port_);
        return client.Send("F " + std::to_string(hz) + "\n") && client.ReadUntil("RPRT 0\n");
    }

  private:
    int port_;
    std::unique_ptr<ChildProcess> process_;
};

}  // namespace dahlo::test

#pragma once
// What a DX-cluster node makes of its clients' lines: whether a login is a callsign, and what
// one command line of a logged-in client asks for. No I/O: a line in, a request out.

#include <string>

namespace dahlo {

// A login is a callsign, with a cluster's SSID ("K1ABC-2") allowed.
bool IsLoginCall(const std::string& login);

// Spots sh/dx replays without a count, and the most it replays.
inline constexpr int kShowDxDefault = 30;
inline constexpr int kShowDxMost = 1000;

struct NodeRequest {
    enum class Kind { kShowDx, kBye, kAnswer };
    Kind kind = Kind::kAnswer;
    int count = 0;     // kShowDx: how many of the last spots, newest first
    std::string line;  // kAnswer: the one line the node answers (no line end)
};

// One command line, in upper case: "SH/DX [N]" (also "SH/DX/N", "SHOW DX N", "SHOW/DX"),
// "BYE" or "QUIT" (or "B", "Q"); "SET/..." and "UNSET/..." and anything else get one line.
NodeRequest ReadNodeCommand(const std::string& line);

}  // namespace dahlo

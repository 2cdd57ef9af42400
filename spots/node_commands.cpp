#include "spots/node_commands.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "skimmer/callsign.h"

namespace dahlo {

bool IsLoginCall(const std::string& login) {
    const std::string base = login.substr(0, login.find('-'));
    return IsCallsign(base);
}

namespace {

// A count of spots for sh/dx, or the default when `text` is none.
int ShowDxCount(const std::string& text) {
    char* end = nullptr;
    const long n = std::strtol(text.c_str(), &end, 10);
    return !text.empty() && *end == '\0' && n > 0 ? static_cast<int>(std::min<long>(n, kShowDxMost))
                                                 : kShowDxDefault;
}

}  // namespace

NodeRequest ReadNodeCommand(const std::string& line) {
    std::istringstream words(line);
    std::string verb;
    words >> verb;
    if (verb == "SH" || verb == "SHOW") {  // nodes take a space for the slash
        std::string what;
        if (words >> what) verb += "/" + what;
    }
    const std::size_t slash = verb.find('/', verb.find('/') + 1);
    const std::string command = verb.substr(0, slash);
    NodeRequest request;
    if (verb == "BYE" || verb == "QUIT" || verb == "B" || verb == "Q") {
        request.kind = NodeRequest::Kind::kBye;
    } else if (command == "SH/DX" || command == "SHOW/DX") {
        std::string number;
        if (slash != std::string::npos) {
            number = verb.substr(slash + 1);
        } else {
            words >> number;
        }
        request.kind = NodeRequest::Kind::kShowDx;
        request.count = ShowDxCount(number);
    } else if (verb.rfind("SET/", 0) == 0 || verb.rfind("UNSET/", 0) == 0) {
        request.line = verb + ": this skimmer keeps no settings for its clients; nothing changed.";
    } else {
        request.line = "Unknown command " + verb + "; this node knows sh/dx [N] and bye.";
    }
    return request;
}

}  // namespace dahlo

// Saves the settings or exports a field, so that tests can run a write as another user:
//   write_as_user settings <path>       Save Setup with default settings
//   write_as_user export <path>         one logger export of "DL1ABC" as Call
// Prints "ok" or the error, then for an export the number of broadcasts; exits 0 on success.

#include <cstdio>
#include <cstring>
#include <string>

#include "export/logger_export.h"
#include "settings/settings.h"

namespace {

class CountingBroadcaster : public dahlo::Broadcaster {
  public:
    std::uint32_t RegisterMessage(std::string_view) override { return 1; }
    void Broadcast(std::uint32_t, std::uint32_t, std::int32_t) override { ++sent; }
    int sent = 0;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: write_as_user settings|export <path>\n");
        return 2;
    }
    const std::string path = argv[2];
    std::string error;
    bool ok = false;
    int sent = -1;
    if (std::strcmp(argv[1], "settings") == 0) {
        ok = dahlo::SaveSettings(path, dahlo::Settings(), error);
    } else if (std::strcmp(argv[1], "export") == 0) {
        CountingBroadcaster bus;
        dahlo::LoggerExport exporter(bus, "");
        exporter.SetExportFile(path, "QSO");
        ok = exporter.ExportField("Call", "DL1ABC", 4, error);
        sent = bus.sent;
    } else {
        return 2;
    }
    std::printf("%s\n", ok ? "ok" : error.c_str());
    if (sent >= 0) std::printf("broadcasts %d\n", sent);
    return ok ? 0 : 1;
}

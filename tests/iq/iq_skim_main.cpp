// dahlo-iq-skim: the chain end to end, for the lead's wiring and the accuracy figures. An IQ
// recording is cut into sub-bands, each sub-band's audio runs through a skimmer of its own, and
// every line whose station the sub-band owns is printed once with its RF frequency.
//   dahlo-iq-skim FILE [--centre HZ] [--truth FILE.truth.tsv] [--threads N]
//                      [--format cu8|cs16|cf32 --rate HZ]   (raw samples; FILE "-" is stdin)
// With --truth: per station, the text decoded at its frequency against what it sent (CER) and
// whether its call was heard (recall).
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "iq/channelizer.h"
#include "iq/iq_source.h"
#include "skimmer/skimmer.h"
#include "support/text_compare.h"

namespace {

using namespace dahlo;

struct Line {
    int subband;
    double offsetHz;
    std::string head;  // WPM and SNR as the skimmer gave them
    std::string text;
};

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// Matching a decoded line to a station: the skimmer reports its channel's centre bin (5.4 Hz).
constexpr double kSameStationHz = 15.0;

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: dahlo-iq-skim FILE [--centre HZ] [--truth TSV] [--threads N]\n");
        return 2;
    }
    std::optional<double> centre;
    std::string truthPath;
    int threads = 1;
    std::string format;
    double rate = 0.0;
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--centre") centre = std::atof(argv[i + 1]);
        else if (option == "--truth") truthPath = argv[i + 1];
        else if (option == "--threads") threads = std::atoi(argv[i + 1]);
        else if (option == "--format") format = argv[i + 1];
        else if (option == "--rate") rate = std::atof(argv[i + 1]);
    }
    std::unique_ptr<iq::IqSource> source;
    try {
        if (format.empty()) {
            source = iq::OpenIqFile(argv[1], centre);
        } else {
            const std::string path = argv[1];
            std::FILE* raw = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
            const auto parsed = iq::ParseIqFormat(format);
            if (raw == nullptr || !parsed) throw iq::IqError(path + ": cannot open it as " + format);
            source = iq::OpenRawIq(raw, path, *parsed, rate, centre);  // closed at exit
        }
    } catch (const iq::IqError& e) {
        std::fprintf(stderr, "dahlo-iq-skim: %s\n", e.what());
        return 1;
    }
    const double centreHz = source->CentreHz().value_or(0.0);
    const iq::SubbandPlan plan = iq::PlanSubbands(source->RateHz());
    std::vector<std::unique_ptr<StringSink>> sinks;
    std::vector<std::unique_ptr<Skimmer>> skimmers;
    for (int k = 0; k < plan.count; ++k) {
        SkimOptions options;
        options.dialKhz = (centreHz + plan.OffsetHz(k, 0.0)) / 1000.0;  // RF = dial + pitch
        sinks.push_back(std::make_unique<StringSink>());
        skimmers.push_back(std::make_unique<Skimmer>(*sinks.back(), options));
    }
    iq::Channelizer channelizer(
        source->RateHz(),
        [&](int subband, const std::int16_t* block, std::int64_t) {
            skimmers[subband]->Pump().ProcessBlock(block);
        },
        {iq::kDefaultAudioGainDb, threads});
    std::vector<std::complex<float>> chunk(16384);
    while (std::size_t n = source->Read(chunk.data(), chunk.size())) channelizer.Process(chunk.data(), n);
    channelizer.Flush();
    if (!source->Damage().empty()) std::fprintf(stderr, "dahlo-iq-skim: %s\n", source->Damage().c_str());

    std::vector<Line> owned;
    int notOwned = 0;
    for (int k = 0; k < plan.count; ++k) {
        skimmers[k]->Finish();
        std::istringstream lines(sinks[k]->text);
        for (std::string line; std::getline(lines, line);) {
            double pitch = 0.0;
            if (std::sscanf(line.c_str(), "%lf Hz", &pitch) != 1) continue;
            const double offset = plan.OffsetHz(k, pitch);
            if (plan.Owner(offset) != k) {
                ++notOwned;
                continue;
            }
            const std::size_t headAt = line.find("Hz  ") + 4;
            const std::size_t textAt = line.find("dB  ", headAt);
            if (textAt == std::string::npos) continue;
            owned.push_back({k, offset, line.substr(headAt, textAt + 4 - headAt),
                             line.substr(textAt + 4)});
            std::printf("%12.2f kHz  %s%s\n", (centreHz + offset) / 1000.0,
                        owned.back().head.c_str(), owned.back().text.c_str());
        }
    }
    std::fprintf(stderr, "dahlo-iq-skim: %d sub-bands of %.1f Hz; %zu lines owned, %d left to "
                 "the owning neighbour\n", plan.count, plan.spacingHz, owned.size(), notOwned);
    if (truthPath.empty()) return 0;

    std::ifstream truth(truthPath);
    std::string header;
    std::getline(truth, header);
    std::size_t errors = 0;
    std::size_t sent = 0;
    int stations = 0;
    int heard = 0;
    std::vector<bool> matched(owned.size(), false);
    for (std::string row; std::getline(truth, row);) {
        std::istringstream fields(row);
        std::string rf, offset, snr, wpm, qsb, call, text;
        std::getline(fields, rf, '\t');
        std::getline(fields, offset, '\t');
        std::getline(fields, snr, '\t');
        std::getline(fields, wpm, '\t');
        std::getline(fields, qsb, '\t');
        std::getline(fields, call, '\t');
        std::getline(fields, text);
        const double offsetHz = std::atof(offset.c_str());
        std::string decoded;
        for (std::size_t i = 0; i < owned.size(); ++i) {
            if (std::abs(owned[i].offsetHz - offsetHz) > kSameStationHz) continue;
            matched[i] = true;
            decoded += (decoded.empty() ? "" : " ") + owned[i].text;
        }
        const std::size_t distance = test::EditDistance(Upper(text), Upper(decoded));
        const bool callHeard = Upper(decoded).find(Upper(call)) != std::string::npos;
        errors += distance;
        sent += text.size();
        ++stations;
        heard += callHeard ? 1 : 0;
        std::fprintf(stderr, "  %+9.1f Hz %4s dB %3s WPM qsb %2s  %-8s CER %5.1f%%  %s\n",
                     offsetHz, snr.c_str(), wpm.c_str(), qsb.c_str(), call.c_str(),
                     100.0 * static_cast<double>(distance) / static_cast<double>(std::max<std::size_t>(text.size(), 1)),
                     callHeard ? "call heard" : "CALL MISSED");
    }
    const auto ghosts = std::count(matched.begin(), matched.end(), false);
    std::fprintf(stderr, "dahlo-iq-skim: %d stations, calls heard %d (recall %.0f%%), CER %.1f%%, "
                 "%ld owned lines at no station\n", stations, heard, 100.0 * heard / std::max(stations, 1),
                 100.0 * static_cast<double>(errors) / static_cast<double>(std::max<std::size_t>(sent, 1)),
                 static_cast<long>(ghosts));
    return 0;
}

// The listing through the responder with the lines for phones, addresses
// and feeds on and off: two sites, one responder each (one worker), the
// same board of ten messages, rounds of requests taken in turn so that the
// machine's load falls on both alike. Prints each round and the medians.
//   phones_listing [ROUNDS] [REQUESTS_PER_ROUND]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "board_files.h"
#include "responder_process.h"
#include "scratch_site.h"

namespace {

void layOut(ScratchSite& site, const std::string& lines) {
    site.writeConfig("BASE_DIR /\nBBS_DIR " + site.bbsDir() + "\nEMAIL admin@example.org\nPassword secret\n1 title1.gif\n" +
                     lines);
    site.writeBoardFile(1, "guestbook.dat", indexOfMessages(10, 1));
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 20;
    const int requests = argc > 2 ? std::atoi(argv[2]) : 500;
    ScratchSite off;
    ScratchSite on;
    layOut(off, "");
    layOut(on, "PHONE_PAGES on\nADDRESS_SHOWN masked\nFEED on\nTITLE 1 Board\n");
    ResponderProcess offResponder(off.cgiBin(), 1);
    ResponderProcess onResponder(on.cgiBin(), 1);
    const std::map<std::string, std::string> params = {
        {"SCRIPT_NAME", "/cgi-bin/ListPage.exe"}, {"QUERY_STRING", "BoardNum=1&TextNum=0"}, {"REQUEST_METHOD", "GET"},
        {"REMOTE_ADDR", "203.0.113.7"}};
    std::vector<double> offTimes;
    std::vector<double> onTimes;
    std::vector<double> ratios;
    std::printf("round\toff_us\ton_us\n");
    for (int round = 0; round < rounds; ++round) {
        double each[2] = {0, 0};
        // Which goes first alternates too.
        for (int k = 0; k < 2; ++k) {
            const bool lines = (round + k) % 2 == 1;
            const ResponderProcess& responder = lines ? onResponder : offResponder;
            auto start = std::chrono::steady_clock::now();
            for (int i = 0; i < requests; ++i) {
                FcgiResult result = responder.request(params, "");
                if (!result.ended || result.output.find("</html>") == std::string::npos) {
                    std::fprintf(stderr, "a listing failed\n");
                    return 1;
                }
            }
            std::chrono::duration<double, std::micro> spent = std::chrono::steady_clock::now() - start;
            each[lines ? 1 : 0] = spent.count() / requests;
        }
        offTimes.push_back(each[0]);
        onTimes.push_back(each[1]);
        ratios.push_back(each[1] / each[0]);
        std::printf("%d\t%.1f\t%.1f\n", round + 1, each[0], each[1]);
    }
    const double a = median(offTimes);
    const double b = median(onTimes);
    // The ratio of each round's pair is steadier than the ratio of the
    // medians when the machine's load changes from round to round.
    std::printf("median\t%.1f\t%.1f\t(on/off %.3f; median of the rounds' ratios %.3f)\n", a, b, b / a, median(ratios));
    return 0;
}

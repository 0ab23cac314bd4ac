// Calls the Telnet binding as a program would, for the binding tests. Prints one line a
// call: the result and InetGetErrorMessage's text for it.
//   inet_probe HOST PORT
#include <cstdio>
#include <cstdlib>
#include <set>
#include <thread>
#include <vector>

#include "telnet/inet.h"

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    // Many threads reach the first call at once: the load must stay single and consistent.
    std::vector<int> results(8);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < results.size(); ++i) threads.emplace_back([&results, i] { results[i] = InetTelnetClose(-1); });
    for (auto& t : threads) t.join();
    std::set<int> distinct(results.begin(), results.end());
    std::printf("close %d distinct=%zu\n", results[0], distinct.size());

    int c = InetTelnetOpen(argv[1], static_cast<unsigned short>(std::atoi(argv[2])), 0);
    std::printf("open %d %s\n", c, InetGetErrorMessage(c));
    char buf[64];
    int r = InetTelnetReadUntil(c, buf, 63, "\n", 0.1);
    std::printf("readuntil %d %s\n", r, InetGetErrorMessage(r));
    return 0;
}

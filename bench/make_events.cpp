// Writes the benchmark's sample events into a folder, one file per case
// (<case>.json), and prints the case names in table order.
#include "sample_events.hpp"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_events FOLDER\n");
        return 2;
    }
    for (const skillhook::bench::SampleEvent& event : skillhook::bench::sample_events()) {
        const std::string path = std::string(argv[1]) + "/" + event.name + ".json";
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (file == nullptr) {
            std::perror(path.c_str());
            return 1;
        }
        const bool written = std::fwrite(event.text.data(), 1, event.text.size(), file) == event.text.size();
        if (std::fclose(file) != 0 || !written) {
            std::perror(path.c_str());
            return 1;
        }
        std::printf("%s\n", event.name.c_str());
    }
    return 0;
}

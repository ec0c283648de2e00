// qvp3-vstprobe PLUGIN: loads one VST 2 plug-in, opens it and writes what it
// is to standard output, so that the program never loads a plug-in that
// crashes or hangs into its own process.
#include <unistd.h>

#include <cstdio>

#include "qvp3_audio/plugin_probe.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s PLUGIN\n", argc > 0 ? argv[0] : "qvp3-vstprobe");
        return 64;
    }
    const int code = qvp3::audProbeMain(argv[1], stdout);
    // Straight out: what a plug-in left behind at exit is no concern of the answer.
    _exit(code);
}

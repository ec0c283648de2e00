// A web server for one test: Python's http.server on 127.0.0.1 at a free
// port, serving a folder, logging the paths asked for; paths under "/slow/"
// answer after three seconds. It ends with the object, and by itself after
// two minutes.
#pragma once

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace infokit::testing {

class LocalHttpServer {
public:
    explicit LocalHttpServer(const std::filesystem::path& root) : log_(root.parent_path() / "requests.log") {
        static const char* script = R"(
import functools, http.server, os, sys, threading, time
threading.Timer(120, lambda: os._exit(0)).start()
class Handler(http.server.SimpleHTTPRequestHandler):
    def do_GET(self):
        with open(sys.argv[2], 'a') as f:
            f.write(self.path + '\n')
        if self.path.startswith('/slow/'):
            time.sleep(3)
        super().do_GET()
    def log_message(self, *args):
        pass
server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), functools.partial(Handler, directory=sys.argv[1]))
print(server.server_address[1], flush=True)
server.serve_forever()
)";
        int out[2];
        if (::pipe(out) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        const std::string rootText = root.string();
        const std::string logText = log_.string();
        char* argv[] = {const_cast<char*>("python3"), const_cast<char*>("-c"), const_cast<char*>(script),
                        const_cast<char*>(rootText.c_str()), const_cast<char*>(logText.c_str()), nullptr};
        if (::posix_spawnp(&pid_, "python3", &actions, nullptr, argv, environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        std::string line;
        pollfd pfd{out[0], POLLIN, 0};
        char c = 0;
        while (pid_ > 0 && ::poll(&pfd, 1, 10000) > 0 && ::read(out[0], &c, 1) == 1 && c != '\n') line.push_back(c);
        ::close(out[0]);
        port_ = std::atoi(line.c_str());
    }
    ~LocalHttpServer() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    LocalHttpServer(const LocalHttpServer&) = delete;
    LocalHttpServer& operator=(const LocalHttpServer&) = delete;

    bool running() const { return port_ > 0; }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }
    // The paths asked for so far.
    std::vector<std::string> requests() const {
        std::vector<std::string> paths;
        std::ifstream in(log_);
        for (std::string line; std::getline(in, line);) paths.push_back(line);
        return paths;
    }

private:
    std::filesystem::path log_;
    pid_t pid_ = -1;
    int port_ = 0;
};

}  // namespace infokit::testing

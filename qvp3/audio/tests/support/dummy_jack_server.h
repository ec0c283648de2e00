// A dummy JACK server of a test's own (`jackd -d dummy`, no hardware), for
// every test program that needs one; skipped by its callers, with a message,
// where jackd is missing or does not start.
#pragma once

#include <fcntl.h>
#include <jack/jack.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace qvp3::testing {

// A jackd of the test's own, killed at the end. JACK keeps a machine-wide
// table of at most 8 servers, where the entry of a server that was killed
// stays until a server of the same name starts: each test has a name of its
// own, so that a killed server's entry is taken again by the next run.
// The test programs run side by side; JACK's shared table of servers does not
// stand two servers starting and clients opening at once, so one test at a
// time holds the machine's JACK (a lock on a file, released when the test ends).
class DummyJackServer {
public:
    explicit DummyJackServer(const std::string& test) : name_("qvp3-test-" + test) {
        lock_ = open((std::filesystem::temp_directory_path() / "qvp3-jack-tests.lock").c_str(),
                     O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (lock_ >= 0) {
            while (flock(lock_, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    // The server's and its clients' files in JACK's folder carry its name:
    // a server that was killed could not remove them itself.
    ~DummyJackServer() {
        stop(SIGKILL);
        if (lock_ >= 0) close(lock_);  // also lets the next test have JACK
        std::error_code ec;
        std::filesystem::remove(logPath(), ec);
        for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ec)) {
            if (entry.path().filename().string().find("_" + name_ + "_") != std::string::npos) {
                std::filesystem::remove(entry.path(), ec);
            }
        }
    }
    const std::string& name() const { return name_; }
    std::string logPath() const { return (std::filesystem::temp_directory_path() / (name_ + ".log")).string(); }

    // Empty when the server runs and takes clients; else why not.
    std::string start() {
        jack_set_error_function([](const char*) {});  // the probes below fail until the server is up
        std::vector<std::string> args = {"jackd", "-n", name_, "-r", "-d", "dummy", "-r", "44100", "-p", "1024"};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        const std::string log = logPath();
        const pid_t parent = getpid();
        pid_ = fork();
        if (pid_ < 0) return "no process for jackd (" + std::string(std::strerror(errno)) + ")";
        if (pid_ == 0) {
            // The server ends with the test program, also when that dies.
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != parent) _exit(126);
            const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (out >= 0) {
                dup2(out, 1);
                dup2(out, 2);
            }
            execvp("jackd", argv.data());
            _exit(127);
        }
        for (auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10); std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(std::chrono::milliseconds(50))) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                if (WIFEXITED(status) && WEXITSTATUS(status) == 127) return "jackd is not installed";
                return "jackd ended at once (status " + std::to_string(status) + "): " + whatItSaid(log);
            }
            jack_status_t jackStatus{};
            jack_client_t* probe = jack_client_open("qvp3-probe",
                static_cast<jack_options_t>(JackNoStartServer | JackServerName), &jackStatus, name_.c_str());
            if (probe != nullptr) {
                jack_client_close(probe);
                return {};
            }
        }
        return "jackd did not take clients within 10 s: " + whatItSaid(log);
    }

    // Sends the signal and waits for the server to end (bounded; SIGKILL after 5 s).
    void stop(int signal) {
        if (pid_ <= 0) return;
        kill(pid_, signal);
        for (auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5); std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
            if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                return;
            }
        }
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    // What jackd said, but its banner.
    static std::string whatItSaid(const std::string& path) {
        std::ifstream in(path);
        std::string line, said;
        while (std::getline(in, line)) {
            if (line.empty() || line.find("jackdmp") == 0 || line.find("Copyright") == 0 ||
                line.find("jackdmp comes") == 0 || line.find("This is free") == 0 || line.find("under certain") == 0) {
                continue;
            }
            said += (said.empty() ? "" : " / ") + line;
        }
        return said.empty() ? "(nothing)" : said;
    }

    std::string name_;
    pid_t pid_ = -1;
    int lock_ = -1;
};

}  // namespace qvp3::testing

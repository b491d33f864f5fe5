// zelmiran-sim started as its users start it, in a test folder, with its
// port opened and used the way the updater does.
#pragma once

#include "support/byte_io.h"

#include "support/sim_device.h"

#include <chrono>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>


Bytes to_bytes(const std::string& text);

class SimProcess : public SimDevice {
public:
    // Starts the program with --link FOLDER/COM7, --ready and --status in the
    // folder and `arguments`, and waits until it listens. Throws when it
    // does not come up.
    SimProcess(const std::filesystem::path& folder, const std::vector<std::string>& arguments = {});
    // The port is closed before the program is stopped.
    ~SimProcess();

    // As the updater opens it: exclusive, raw, 8N1, queues flushed.
    void open_port();
    void close_port();
    void send(const Bytes& bytes);
    void send(const std::string& text) { send(to_bytes(text)); }
    // What arrives until `count` bytes are there or `limit` passes.
    Bytes receive(std::size_t count, std::chrono::milliseconds limit = std::chrono::seconds(3));
    // Everything that arrives until the line stays quiet for `quiet`.
    Bytes drain(std::chrono::milliseconds quiet = std::chrono::milliseconds(300));
    // Sends and collects the reply of `count` bytes.
    Bytes ask(const std::string& frame, std::size_t count);
    // True when the port reports a hang-up within `limit`.
    bool hung_up(std::chrono::milliseconds limit);

private:
    int port_ = -1;
};

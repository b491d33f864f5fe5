// The far end of a serial port for tests: a pseudo-terminal whose slave is
// linked as FOLDER/COMn, the name the updater opens under ZELMIRAN_COM_DIR.
#pragma once

#include "support/byte_io.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>


class PtyPeer {
public:
    PtyPeer(const std::filesystem::path& folder, int number);
    ~PtyPeer();
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    void send(const Bytes& bytes);
    // Collects what arrives until `count` bytes are there or `limit` passes.
    Bytes receive(std::size_t count, std::chrono::milliseconds limit);
    // Everything that arrives within `quiet` of silence.
    Bytes drain(std::chrono::milliseconds quiet = std::chrono::milliseconds(100));
    // In the background: wait for the 3-byte greeting, then send `answer`.
    void answer_greeting(Bytes answer);
    // What the background answerer received before it answered.
    Bytes greeting_received();
    // Closes the master side, as a device that is unplugged.
    void hang_up();
    // Lets every user open the port, or, with `exclusive`, lets no one else
    // but root open it while this peer holds it (TIOCEXCL), as another
    // program on the port does.
    void open_to_all(bool exclusive = false);

private:
    int master_ = -1;
    int slave_ = -1;
    std::filesystem::path link_;
    std::thread answerer_;
    Bytes greeting_;
};

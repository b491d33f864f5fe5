// The device's end of the serial link: a pseudo-terminal in raw mode whose
// slave is linked at the path the updater opens. The device holds the slave
// open itself, so the updater can close and reopen the port between runs
// without the master ever seeing a hang-up, and it watches the slave so it
// knows when a new user takes the port.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace sim {

class PtyLink {
public:
    // Replaces a stale link at `link`. Throws std::runtime_error on failure.
    explicit PtyLink(const std::filesystem::path& link);
    // Removes the link.
    ~PtyLink();
    PtyLink(const PtyLink&) = delete;
    PtyLink& operator=(const PtyLink&) = delete;

    const std::string& slave_path() const { return slave_path_; }
    // Non-blocking; -1 once hung up.
    int master() const { return master_; }
    // Readable when the port has been opened or closed.
    int port_watch() const { return watch_; }

    struct PortEvents {
        bool new_user = false;  // the port was opened while no one had it open
    };
    // What happened to the port since the last call. A second program that
    // opens the port while it is in use (root may, whatever TIOCEXCL says)
    // changes nothing for the one using it, as on a real USB serial port.
    // A user's exclusive claim (TIOCEXCL) is lifted once the last user
    // closes, or the next run of an unprivileged updater could not open the
    // port.
    PortEvents take_port_events();
    // What has arrived, at most `size` bytes; 0 when nothing has.
    std::size_t read(std::uint8_t* buffer, std::size_t size);
    // Bytes sent that the user of the port has not read yet.
    std::size_t unread() const;
    // Closes the master: the user of the port sees a hang-up.
    void hang_up();

private:
    void open_link();
    void close_all();

    std::filesystem::path link_;
    std::string slave_path_;
    int master_ = -1;
    int slave_ = -1;
    int watch_ = -1;
    int users_ = 0;  // the port's open descriptors, the device's own not counted
};

}  // namespace sim

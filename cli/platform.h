// What zelmiran-flash needs from its platform (platform_posix.cpp,
// platform_win32.cpp): the language, the arguments, the console, Ctrl-C and
// the replacement of a file, the width of the terminal.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

enum class Language { english, russian };

// Russian under a Russian locale (POSIX: the first of LC_ALL, LC_MESSAGES
// and LANG that is set; Windows: the user's interface language).
Language user_language();

// The arguments after the program's name, as UTF-8.
std::vector<std::string> program_arguments(int argc, char** argv);

enum class Stream { out, err };
// Whether the stream goes to a terminal (a console on Windows).
bool is_terminal(Stream stream);
// Writes UTF-8 text; a Windows console gets it through the wide API.
void write_text(Stream stream, const std::string& text);

// Standard output for bytes rather than text: no line end translation on
// Windows, and a reader that went away fails the write (POSIX: no SIGPIPE)
// instead of ending the program unreported.
void prepare_binary_output();
// All of `bytes` to standard output; false with the system's reason.
[[nodiscard]] bool write_binary_output(const unsigned char* bytes, std::size_t count, std::string& reason);

// From now on SIGINT, SIGTERM and SIGHUP (on Windows Ctrl-C, Ctrl-Break and
// the closing of the console) only note that a stop was asked for, so that
// the command stops where no reply is awaited. Once `patient_stops` stops
// have come, one that comes within 2 s of the one before ends the program at
// once: it writes the last words to standard error, removes the unfinished
// file, and exits with 128 plus the signal's number. The production line is
// patient for two, since its second stop is an order of its own.
void catch_stop_signals(int patient_stops = 1);
// A worker of the production line: the line's end is a stop too (Linux: the
// parent's death signal; Windows: the end of standard input, which is also
// how the line asks for a stop there), and output the line no longer reads
// does not end it before its safe point.
void stop_when_line_ends();
// How many stops were asked for, and the first one's signal number (on
// Windows: SIGINT for Ctrl-C and Ctrl-Break, SIGHUP for the console's
// closing); 0 before any.
int stops_asked();
int stop_signal();
// What an ending at once says (one line, with its line end) and the file it
// removes ("": none).
void set_last_words(const std::string& words);
void set_unfinished_file(const std::string& path);

// Renames `from` to `to`, replacing a file `to`; both UTF-8. False with the
// system's reason in `reason`.
[[nodiscard]] bool replace_file(const std::string& from, const std::string& to, std::string& reason);

// A UTF-8 name as a path: on Windows the wide name, not the ANSI one.
inline std::filesystem::path utf8_path(const std::string& name) {
    return std::filesystem::path(std::u8string(reinterpret_cast<const char8_t*>(name.data()), name.size()));
}

// And back.
inline std::string utf8_name(const std::filesystem::path& path) {
    const std::u8string name = path.u8string();
    return std::string(name.begin(), name.end());
}

// Whether the terminal the stream goes to takes ANSI sequences: cursor
// moves, line clearing and colour (POSIX: TERM set and not "dumb"; Windows:
// the console accepted virtual terminal processing).
bool terminal_sequences(Stream stream);

// The computer's name, for the production line's log; empty when unknown.
std::string host_name();
unsigned long process_id();

// Columns of the terminal (console window) the stream goes to; 0 when that is
// unknown or the stream goes to no terminal.
int terminal_columns(Stream stream);

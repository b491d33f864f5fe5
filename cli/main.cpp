// zelmiran-flash: the command-line flasher for firmware developers,
// production and service, on the updater's link, applet and programming run.
#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/line.h"
#include "cli/output.h"
#include "cli/platform.h"
#include "link/trace.h"

#include <chrono>

namespace {

ExitCode usage_error(const Invocation& invocation, const Texts& texts, const std::string& problem) {
    if (invocation.json) {
        CommandResult result;
        result.command = invocation.command_name;
        result.code = ExitCode::usage;
        result.detail = problem;
        write_text(Stream::out, result_json(result) + "\n");
    }
    write_text(Stream::err, "zelmiran-flash: " + problem + "\n" + texts.usage_hint);
    return ExitCode::usage;
}

CommandResult run_command(const Session& session) {
    switch (session.invocation.command) {
    case Command::info: return run_info(session);
    case Command::write: return run_write(session);
    case Command::verify: return run_verify(session);
    case Command::read: return run_read(session);
    case Command::list: return run_list(session);

    case Command::check: return run_check(session);
    default: return run_boot(session);
    }
}

ExitCode run(const std::vector<std::string>& arguments) {
    const Language language = user_language();
    const Texts& texts = texts_for(language);
    Invocation invocation;
    std::string problem;
    if (!parse_arguments(arguments, texts, invocation, problem)) return usage_error(invocation, texts, problem);
    if (invocation.command == Command::help) {
        write_text(Stream::out, texts.usage);
        return ExitCode::ok;
    }
    if (invocation.command == Command::version) {
        write_text(Stream::out, "zelmiran-flash " ZELMIRAN_VERSION "\n");
        return ExitCode::ok;
    }
    if (invocation.verbose) switch_link_trace_on();
    if (invocation.worker) {
        // What it shows, the line shows; its stop comes from the line.
        invocation.quiet = true;
        stop_when_line_ends();
    }
    ProgressBar progress(!invocation.quiet && is_terminal(Stream::err), texts.time_left);
    const Session session{invocation, texts, language == Language::russian, progress};
    // The line's second stop stops its workers; only a third ends it at once.
    catch_stop_signals(invocation.command == Command::line ? 2 : 1);
    prepare_last_words(session, texts.stopped_untouched);
    if (invocation.command == Command::line) return run_line(session);

    const auto started = std::chrono::steady_clock::now();
    CommandResult result = run_command(session);
    result.command = invocation.command_name;
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    report_result(session, result);
    return result.code;
}

}  // namespace

int main(int argc, char** argv) { return exit_number(run(program_arguments(argc, argv))); }

// zelmiran-flash's commands, each from the command line to its result.
#pragma once

#include "cli/arguments.h"
#include "cli/device.h"
#include "cli/image_file.h"
#include "cli/progress.h"
#include "cli/result.h"

struct Session {
    const Invocation& invocation;
    const Texts& texts;
    bool russian;
    ProgressBar& progress;
};

// What an ending at once says, `words` (one of the texts) after the
// program's name, on a line of its own.
void prepare_last_words(const Session& session, const std::string& words);

CommandResult run_info(const Session& session);
CommandResult run_write(const Session& session);
CommandResult run_verify(const Session& session);
CommandResult run_read(const Session& session);
CommandResult run_boot(const Session& session);
CommandResult run_list(const Session& session);
// The image alone, without a device.
CommandResult run_check(const Session& session);

// The image named on the command line ("-": standard input), placed at
// --address when raw, loaded into `image`; false with the refusal in
// `result`.
[[nodiscard]] bool load_command_image(const Session& session, ImageFile& image, CommandResult& result);
// Notes the connection's port in `result`; false with its failure there.
[[nodiscard]] bool connection_in_hand(const Session& session, const DeviceConnection& connection,
                                      CommandResult& result);
// The programming run on a connected device, whose outcome goes into `result`
// (a stop included).
void program_connected_device(const Session& session, const ImageFile& image, CommandResult& result);

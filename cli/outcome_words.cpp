#include "cli/outcome_words.h"

#include "cli/texts.h"

namespace {

// Each text in both languages side by side, so that they stay in step.
struct Say {
    bool russian;
    [[nodiscard]] const char* operator()(const char* english, const char* russian_text) const {
        return russian ? russian_text : english;
    }
};

std::string blocked_port_words(const BlockedPort& port, Say say) {
    if (port.reason == PortOpen::busy)
        return format(say("%s is held by another program", "%s занят другой программой"), port.name.c_str());
    return format(say("no access to %s (add the user to the dialout group)",
                      "нет доступа к %s (добавьте пользователя в группу dialout)"),
                  port.name.c_str());
}

std::string several_devices_words(const PortOutcome& search, Say say) {
    std::string ports;
    for (std::size_t i = 0; i < search.answered.size(); ++i) {
        if (i > 0) ports += i + 1 == search.answered.size() ? say(" and ", " и ") : ", ";
        ports += search.answered[i];
    }
    return format(say("devices on %s: choose one with --port", "приборы на %s: выберите один с --port"), ports.c_str());
}

std::string search_failure_words(const PortOutcome& search, Say say) {
    if (search.outcome.cause == Cause::several_devices) return several_devices_words(search, say);
    std::string words = say("no device answered on COM1 to COM32", "ни один прибор не ответил на COM1 - COM32");
    for (const BlockedPort& port : search.blocked) words += "; " + blocked_port_words(port, say);
    return words;
}

std::string port_failure_words(const PortOutcome& opened, Say say) {
    const char* port = opened.port.c_str();
    switch (opened.outcome.cause) {
    case Cause::port_missing: return format(say("port %s does not exist", "порта %s нет"), port);
    case Cause::port_busy: return format(say("port %s is held by another program", "порт %s занят другой программой"), port);
    case Cause::port_denied:
        return format(say("no access to port %s (add the user to the dialout group)",
                          "нет доступа к порту %s (добавьте пользователя в группу dialout)"),
                      port);
    case Cause::port_not_opened:
        return format(say("port %s cannot be used: %s", "порт %s недоступен: %s"), port, opened.system_reason.c_str());
    case Cause::port_unusable: return format(say("port %s cannot be set up", "порт %s не настраивается"), port);
    default: return format(say("no boot monitor answers on %s", "на %s не отвечает загрузочный монитор"), port);
    }
}

std::string step_words(const Outcome& outcome, Say say) {
    switch (outcome.step) {
    case Step::applet: return say("preparing the flash applet", "подготовка программы записи");
    case Step::unlock: return format(say("unlocking region %d", "снятие защиты области %d"), outcome.unit);
    case Step::erase: return say("erasing the flash", "очистка флеш-памяти");
    case Step::write:
        return format(say("writing the page at 0x%08X", "запись страницы 0x%08X"), static_cast<unsigned>(outcome.address));
    case Step::compare: return say("comparing", "сравнение");
    case Step::lock: return format(say("locking region %d", "защита области %d"), outcome.unit);
    case Step::boot_bit:
    case Step::cancel: return say("setting the boot bit", "установка бита загрузки");
    case Step::boot_bit_clear: return say("clearing the boot bit", "снятие бита загрузки");
    case Step::flash_modes: return say("setting the flash timing", "настройка флеш-памяти");
    case Step::flash_state: return say("reading the flash controllers' status", "чтение состояния контроллеров флеш-памяти");
    case Step::checksum: return say("reading the device's block checksums", "чтение контрольных сумм блоков");
    case Step::check:
        return format(say("checking the block 0x%08X", "проверка блока 0x%08X"), static_cast<unsigned>(outcome.address));
    case Step::restart: return say("restarting the controller", "перезапуск контроллера");
    default: return say("reading the flash", "чтение флеш-памяти");
    }
}

std::string cause_words(const Outcome& outcome, Say say) {
    const int code = outcome.code;
    const auto address = static_cast<unsigned>(outcome.address);
    switch (outcome.cause) {
    case Cause::registers_not_written:
        return format(say("a register write was not answered (code %d)", "запись регистра без ответа (код %d)"), code);
    case Cause::status_unreadable:
        return format(say("the flash status cannot be read (code %d)", "не читается состояние флеш-памяти (код %d)"), code);
    case Cause::controller_not_ready:
        return format(say("the flash controller stays busy (code %d)", "контроллер флеш-памяти не готов (код %d)"), code);
    case Cause::applet_not_uploaded:
        return format(say("the applet could not be loaded (code %d)", "программа записи не загружена (код %d)"), code);
    case Cause::mailbox_not_sent:
        return format(say("the command did not reach the device (code %d)", "команда не передана (код %d)"), code);
    case Cause::start_not_sent: return say("the port closed before the applet started", "порт закрылся до запуска программы записи");
    case Cause::no_completion:
        return format(say("the applet did not return (code %d)", "программа записи не вернулась (код %d)"), code);
    case Cause::mailbox_not_read:
        return format(say("the applet's answer cannot be read (code %d)", "не читается ответ программы записи (код %d)"), code);
    case Cause::completion_mark_missing: return say("the applet did not complete the command", "программа записи не выполнила команду");
    case Cause::arguments_changed:
        return say("the command was carried out with other arguments than sent", "команда выполнена с другими аргументами");
    case Cause::command_refused: return format(say("the device refused it (status %d)", "прибор отказал (статус %d)"), code);
    case Cause::buffer_outside_sram:
        return format(say("the applet's buffer 0x%08X lies outside free SRAM", "буфер программы записи 0x%08X вне свободной SRAM"), address);
    case Cause::page_not_sent:
        return format(say("the page did not reach the device (code %d)", "страница не передана (код %d)"), code);
    case Cause::page_not_read:
        return format(say("the device stopped answering at 0x%08X", "прибор перестал отвечать на адресе 0x%08X"), address);
    case Cause::image_unreadable: return say("the image cannot be read", "образ не читается");
    case Cause::mismatch:
        return format(say("the flash differs at 0x%08X (image 0x%02X, flash 0x%02X)",
                          "флеш-память отличается по адресу 0x%08X (образ 0x%02X, флеш 0x%02X)"),
                      address, outcome.image_byte, outcome.flash_byte);
    case Cause::locks_not_set: return say("the device does not show every region locked", "прибор не показывает защиту всех областей");
    case Cause::boot_bit_not_set:
        return format(say("the device does not show the boot bit set (code %d)", "прибор не показывает бит загрузки (код %d)"), code);
    case Cause::block_differs: return say("its checksum differs from what was written", "контрольная сумма не совпадает с записанным");
    case Cause::boot_bit_not_cleared: return say("the device still shows the boot bit set", "прибор всё ещё показывает бит загрузки");
    default: return say("failed", "ошибка");
    }
}

}  // namespace

ExitCode exit_code_of(const Outcome& outcome) {
    switch (outcome.step) {
    case Step::none: return ExitCode::ok;
    case Step::port_search:
    case Step::port_open: return ExitCode::no_device;
    case Step::controller_check:
    case Step::flash_modes:
    case Step::flash_state:
    case Step::flash_read: return ExitCode::no_monitor;
    case Step::cancel: return ExitCode::boot_bit_failed;
    case Step::boot_bit: return outcome.cause == Cause::locks_not_set ? ExitCode::run_failed : ExitCode::boot_bit_failed;
    default: return ExitCode::run_failed;
    }
}

std::string connection_failure_words(const DeviceConnection& connection, bool russian) {
    const Say say{russian};
    const PortOutcome& port = connection.port_outcome();
    if (port.outcome.step == Step::port_search && !port.outcome.ok()) return search_failure_words(port, say);
    if (!port.outcome.ok()) return port_failure_words(port, say);
    if (connection.failure().cause == Cause::wrong_controller)
        return format(say("the controller on %s is not an AT91SAM7SE512 (chip id 0x%08X)",
                          "контроллер на %s не AT91SAM7SE512 (код 0x%08X)"),
                      port.port.c_str(), static_cast<unsigned>(connection.chip_id().value_or(0)));
    return format(say("the boot monitor on %s does not answer commands", "загрузочный монитор на %s не выполняет команды"),
                  port.port.c_str());
}

std::string step_failure_words(const Outcome& outcome, bool russian) {
    const Say say{russian};
    return step_words(outcome, say) + ": " + cause_words(outcome, say);
}

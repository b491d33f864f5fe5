#include "cli/texts.h"

#include <cstdarg>
#include <cstdio>

namespace {

const Texts english = {
    "Usage: zelmiran-flash [OPTIONS] COMMAND [ARGS]\n"
    "\n"
    "Commands:\n"
    "  info                        controller check, chip id, lock bits of all 32\n"
    "                              regions, GPNVM 0-2, security bit\n"
    "  write IMAGE                 write the 1 KiB blocks whose checksum on the\n"
    "                              device differs from IMAGE, erase the rest,\n"
    "                              check, lock, boot bit\n"
    "  verify IMAGE                compare the whole flash with IMAGE by the\n"
    "                              device's block checksums\n"
    "  read FILE                   save the flash (default all 512 KiB) to FILE\n"
    "  boot                        cancel programming mode: set the boot bit\n"
    "  line IMAGE                  production: program every connected device at\n"
    "                              once, each as soon as its port appears\n"
    "  check IMAGE                 without a device: format, address ranges, 1 KiB\n"
    "                              blocks, bytes, SHA-256, what write would do\n"
    "  list                        each port with a device: port, chip id,\n"
    "                              controller check; busy ports are shown, untouched\n"
    "\n"
    "Options:\n"
    "  -p, --port PORT             COMn (any n) or a device path; without it,\n"
    "                              COM1 to COM32 are searched\n"
    "  -j, --json                  one JSON object per result on standard output\n"
    "  -q, --quiet                 no progress bar\n"
    "      --verbose               the link trace on standard error\n"
    "      --address ADDR          write, verify, check: where a raw binary goes;\n"
    "                              read: where it starts; 0x00100000 to 0x0017FFFF,\n"
    "                              decimal or 0x hex, by default 0x00100000\n"
    "      --size BYTES            read: how many bytes (by default to the end)\n"
    "      --full                  write: rewrite every block of both banks\n"
    "      --keep-rest             write: leave the flash outside the image's\n"
    "                              blocks as it is; verify: compare its blocks only\n"
    "      --read-back             verify: read every byte and compare it\n"
    "      --run                   write, boot: restart the controller after the\n"
    "                              boot bit, so that it starts the new firmware\n"
    "      --count N               line: end after N devices\n"
    "      --jobs N                line: N devices programmed at once at most\n"
    "      --ports LIST            line: watch these ports (COM names or paths,\n"
    "                              comma-separated), not COM1 to COM32\n"
    "      --log FILE.csv          line: a CSV row per device, numbers going on\n"
    "                              from the log's highest\n"
    "      --station NAME          line: the log's station (default: host name)\n"
    "  -h, --help                  this text\n"
    "  -V, --version               the program's version\n"
    "\n"
    "IMAGE: a raw binary (from --address, by default the first byte of flash),\n"
    "Intel HEX (.hex) or ELF. IMAGE '-' is standard input (Intel HEX when it\n"
    "starts with ':', ELF by its magic, else raw); read's FILE '-' standard output.\n"
    "Exit codes: 0 done, 3 bad image, 4 no device or port, 5 no monitor or wrong\n"
    "controller, 7 boot bit not set, 11 programming failed, 12 verify found a\n"
    "difference, 64 usage, 73 output file cannot be written.\n",
    "Run 'zelmiran-flash --help' for the usage.\n",
    "no command given",
    "unknown command: %s",
    "unknown option: %s",
    "%s needs a value",
    "%s needs a file name",
    "unexpected argument: %s",
    "--size must be a number of bytes from 1 to 524288 (decimal or 0x hex): %s",
    "--count must be a number from 1: %s",
    "--ports needs port names separated by commas, none empty: %s",
    "--jobs must be a number from 1 to 1000: %s",
    "--address must be a flash address from 0x00100000 to 0x0017FFFF (decimal or 0x hex): %s",
    "--size %u from 0x%08X reaches past the flash's end (0x0017FFFF)",
    "%s does not apply to %s",
    "standard input",
    "standard output",
    "raw binary",
    "format   %s\nranges   %s\nblocks   %zu of 1 KiB\nbytes    %zu\nSHA-256  %s\n",
    "on an erased device, write writes %zu block(s), then locks all 32 regions and sets the boot bit",
    "programming failed",
    "%s written and checked (%s, %zu bytes, SHA-256 %s): %d block(s) written, %d unchanged",
    "the flash holds %s (%zu bytes)",
    "the flash differs from %s at 0x%08X (image 0x%02X, flash 0x%02X); %zu byte(s) differ",
    "the flash differs from %s in the block 0x%08X-0x%08X; %d block(s) differ",
    "%u bytes of flash saved to %s",
    "%s cannot be written: %s",
    "not a regular file",
    "boot bit set: switch the device off and unplug the USB cable; it starts its firmware",
    "; restarted: the device runs its firmware",
    "busy: held by another program, not touched",
    "no access (add the user to the dialout group)",
    "not an AT91SAM7SE512",
    "no device answered on COM1 to COM32\n",
    "stopped: nothing on the device was changed",
    "stopped: the boot bit is clear: the device stays in programming mode; run the write again",
    "stopped: %s was not written",
    "taking no more devices; those being programmed finish; Ctrl-C again stops them at a safe point\n",
    "port       %s\nchip id    0x%08X%s\nlock bits  0x%08X\nGPNVM      %d %d %d\nsecurity   %d\n",
    "waiting for devices on %s ...",
    "device %u on %s: started\n",
    "device %u on %s: %s  %.1f s",
    "done %u: passed %u, failed %u, stopped %u",
    "; %.0f per hour",
    "done %u: passed %u, failed %u, stopped %u\n",
    "stopped at once: each device being programmed stops at its next safe point; program those again",
    "PASS",
    "FAIL",
    "STOPPED",
    "COM1 to COM32",
    "connect",
    "prepare",
    "check",
    "boot bit",
    "cannot start a worker: %s",
    "its worker said nothing for %d s and was ended",
    "its worker ended without a result (%s)",
    "signal %d",
    "exit code %d",
    "unlock",
    "write",
    "compare",
    "lock",
    "read",
    "verify",
    "left",
};

const Texts russian = {
    "Использование: zelmiran-flash [ПАРАМЕТРЫ] КОМАНДА [АРГУМЕНТЫ]\n"
    "\n"
    "Команды:\n"
    "  info                        проверка контроллера, код контроллера, биты\n"
    "                              защиты 32 областей, GPNVM 0-2, бит секретности\n"
    "  write ОБРАЗ                 записать блоки по 1 КиБ, контрольная сумма\n"
    "                              которых в приборе не совпадает с ОБРАЗОМ,\n"
    "                              очистить прочие; проверка, защита, бит загрузки\n"
    "  verify ОБРАЗ                сравнить всю флеш-память с ОБРАЗОМ по\n"
    "                              контрольным суммам блоков, вычисленным прибором\n"
    "  read ФАЙЛ                   сохранить флеш-память (по умолчанию все 512 КиБ)\n"
    "  boot                        отменить режим программирования: бит загрузки\n"
    "  line ОБРАЗ                  производство: программировать все подключённые\n"
    "                              приборы сразу, каждый, как только есть его порт\n"
    "  check ОБРАЗ                 без прибора: формат, диапазоны адресов, блоки\n"
    "                              по 1 КиБ, байты, SHA-256, что сделает write\n"
    "  list                        каждый порт с прибором: порт, код контроллера,\n"
    "                              проверка; занятые порты показаны, но не тронуты\n"
    "\n"
    "Параметры:\n"
    "  -p, --port ПОРТ             COMn (любое n) или путь устройства; без него\n"
    "                              ищется COM1 - COM32\n"
    "  -j, --json                  по объекту JSON на результат в стандартный вывод\n"
    "  -q, --quiet                 без индикатора хода\n"
    "      --verbose               трассировка связи в стандартный поток ошибок\n"
    "      --address АДРЕС         write, verify, check: адрес двоичного образа;\n"
    "                              read: откуда читать; от 0x00100000 до 0x0017FFFF,\n"
    "                              десятичный или 0x, по умолчанию 0x00100000\n"
    "      --size БАЙТ             read: сколько байт (по умолчанию до конца)\n"
    "      --full                  write: переписать все блоки обоих банков\n"
    "      --keep-rest             write: не трогать флеш-память вне блоков\n"
    "                              образа; verify: сравнить только эти блоки\n"
    "      --read-back             verify: прочитать и сравнить каждый байт\n"
    "      --run                   write, boot: перезапустить контроллер после\n"
    "                              бита загрузки, чтобы он запустил новую программу\n"
    "      --count N               line: закончить после N приборов\n"
    "      --jobs N                line: программировать не больше N приборов сразу\n"
    "      --ports СПИСОК          line: следить за этими портами (имена COM или\n"
    "                              пути через запятую), а не за COM1 - COM32\n"
    "      --log ФАЙЛ.csv          line: по строке CSV на прибор, номера после\n"
    "                              наибольшего в журнале\n"
    "      --station ИМЯ           line: рабочее место в журнале (по умолчанию имя\n"
    "                              компьютера)\n"
    "  -h, --help                  этот текст\n"
    "  -V, --version               версия программы\n"
    "\n"
    "ОБРАЗ: двоичный файл (с --address, по умолчанию с первого байта флеш-памяти),\n"
    "Intel HEX (.hex) или ELF. ОБРАЗ '-' - стандартный ввод (Intel HEX, если\n"
    "начинается с ':', ELF по сигнатуре, иначе двоичный); ФАЙЛ '-' у read -\n"
    "стандартный вывод.\n"
    "Коды выхода: 0 готово, 3 негодный образ, 4 нет прибора или порта, 5 монитор\n"
    "не отвечает или не тот контроллер, 7 бит загрузки не установлен,\n"
    "11 программирование не выполнено, 12 найдено различие, 64 неверный вызов,\n"
    "73 выходной файл не записывается.\n",
    "Справка: 'zelmiran-flash --help'.\n",
    "не задана команда",
    "неизвестная команда: %s",
    "неизвестный параметр: %s",
    "для %s нужно значение",
    "для %s нужно имя файла",
    "лишний аргумент: %s",
    "--size: число байт от 1 до 524288 (десятичное или 0x шестнадцатеричное): %s",
    "--count: число от 1: %s",
    "--ports: имена портов через запятую, без пустых: %s",
    "--jobs: число от 1 до 1000: %s",
    "--address: адрес флеш-памяти от 0x00100000 до 0x0017FFFF (десятичный или 0x шестнадцатеричный): %s",
    "--size %u от 0x%08X выходит за конец флеш-памяти (0x0017FFFF)",
    "%s не применяется с командой %s",
    "стандартный ввод",
    "стандартный вывод",
    "двоичный файл",
    "формат   %s\nадреса   %s\nблоков   %zu по 1 КиБ\nбайт     %zu\nSHA-256  %s\n",
    "на очищенном приборе write запишет блоков: %zu, затем защитит все 32 области и установит бит загрузки",
    "программирование не выполнено",
    "%s записан и проверен (%s, %zu байт, SHA-256 %s): записано блоков %d, без изменений %d",
    "флеш-память содержит %s (%zu байт)",
    "флеш-память отличается от %s по адресу 0x%08X (образ 0x%02X, флеш 0x%02X); различных байт: %zu",
    "флеш-память отличается от %s в блоке 0x%08X-0x%08X; различных блоков: %d",
    "%u байт флеш-памяти сохранено в %s",
    "%s не записывается: %s",
    "это не обычный файл",
    "бит загрузки установлен: выключите прибор, отключите USB кабель; он запустит свою программу",
    "; перезапущен: прибор выполняет свою программу",
    "занят другой программой, не тронут",
    "нет доступа (добавьте пользователя в группу dialout)",
    "не AT91SAM7SE512",
    "ни один прибор не ответил на COM1 - COM32\n",
    "остановлено: в приборе ничего не изменено",
    "остановлено: бит загрузки снят, прибор остаётся в режиме программирования; запустите запись снова",
    "остановлено: %s не записан",
    "новые приборы не берутся; программируемые будут закончены; повторное Ctrl-C остановит их в безопасной точке\n",
    "порт            %s\nкод контроллера 0x%08X%s\nбиты защиты     0x%08X\nGPNVM           %d %d %d\nбит секретности %d\n",
    "ожидание приборов на %s ...",
    "прибор %u на %s: начат\n",
    "прибор %u на %s: %s  %.1f с",
    "всего %u: годных %u, с ошибкой %u, остановлено %u",
    "; %.0f в час",
    "всего %u: годных %u, с ошибкой %u, остановлено %u\n",
    "остановлено сразу: каждый программируемый прибор остановится в безопасной точке; запрограммируйте их снова",
    "ГОДЕН",
    "БРАК",
    "ОСТАНОВЛЕН",
    "COM1 - COM32",
    "подключение",
    "подготовка",
    "проверка",
    "бит загрузки",
    "рабочий процесс не запускается: %s",
    "его рабочий процесс молчал %d с и был завершён",
    "его рабочий процесс завершился без результата (%s)",
    "сигнал %d",
    "код выхода %d",
    "снятие защиты",
    "запись",
    "сравнение",
    "защита",
    "чтение",
    "проверка",
    "осталось",
};

}  // namespace

const Texts& texts_for(Language language) { return language == Language::russian ? russian : english; }

std::string format(const char* pattern, ...) {
    va_list arguments;
    va_start(arguments, pattern);
    va_list again;
    va_copy(again, arguments);
    const int length = std::vsnprintf(nullptr, 0, pattern, arguments);
    va_end(arguments);
    std::string text(static_cast<std::size_t>(length > 0 ? length : 0) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), pattern, again);
    va_end(again);
    text.pop_back();
    return text;
}

#include "image_file.h"

namespace {

std::string hex_number(std::uint64_t value, int digits) {
    static constexpr char hex_digits[] = "0123456789ABCDEF";
    std::string text(static_cast<std::size_t>(digits), '0');
    for (int place = digits - 1; place >= 0; --place, value >>= 4)
        text[static_cast<std::size_t>(place)] = hex_digits[value & 0xF];
    return "0x" + text;
}

// Each text in both languages side by side, so that they stay in step.
struct Language {
    bool russian;
    [[nodiscard]] std::string operator()(const char* english, const char* russian_text) const {
        return russian ? russian_text : english;
    }
};

// A character from a bad line: itself when printable ASCII, else its code.
std::string shown_byte(std::uint64_t byte, Language say) {
    if (byte >= 0x21 && byte < 0x7F)
        return "'" + std::string(1, static_cast<char>(byte)) + "'";
    return say("byte ", "байт ") + hex_number(byte, 2);
}

// "file: line 3, address 0x00100010: " and the like.
std::string location(const ImageError& error, Language say) {
    std::string text = error.file;
    std::string separator = ": ";
    if (error.line > 0) {
        text += separator + say("line ", "строка ") + std::to_string(error.line);
        separator = ", ";
    }
    if (error.segment >= 0) {
        text += separator + say("segment ", "сегмент ") + std::to_string(error.segment);
        separator = ", ";
    }
    if (error.has_address)
        text += separator + say("address ", "адрес ") + hex_number(error.address, 8);
    return text + ": ";
}

std::string reason(const ImageError& error, Language say) {
    std::string system_error = say(" (system error ", " (системная ошибка ") + std::to_string(error.system_code) + ")";
    std::string value = std::to_string(error.value);
    switch (error.fault) {
    case ImageFault::file_not_found: return say("no such file", "файл не найден");
    case ImageFault::access_denied: return say("access denied", "нет доступа к файлу");
    case ImageFault::cannot_open: return say("cannot be opened", "файл не открывается") + system_error;
    case ImageFault::not_regular_file:
        return say("not a file (a folder, a pipe or a device)", "это не файл (папка, канал или устройство)");
    case ImageFault::read_failed: return say("cannot be read through", "файл не читается") + system_error;
    case ImageFault::file_too_large:
        return say("larger than 256 MiB, far beyond any image for this flash",
                   "файл больше 256 МиБ, много больше любого образа для этой флэш-памяти");
    case ImageFault::empty: return say("no data for the flash in this image", "в образе нет данных для флэш-памяти");
    case ImageFault::raw_too_large:
        return value + say(" bytes, larger than the flash (524288 bytes)", " байт, больше флэш-памяти (524288 байт)");
    case ImageFault::raw_past_flash_end:
        return value + say(" bytes from here reach past the flash's end (0x0017FFFF)",
                           " байт отсюда выходят за конец флэш-памяти (0x0017FFFF)");
    case ImageFault::address_not_raw:
        return (error.format == "elf" ? say("an ELF image", "образ ELF") : say("an Intel HEX image", "образ Intel HEX")) +
               say(" carries its own addresses: --address is for a raw binary only",
                   " несёт свои адреса: --address только для двоичного образа");
    case ImageFault::raw_looks_like_hex:
        return say("Intel HEX text in a file whose name does not end in .hex or .ihex, which would be written as "
                   "raw bytes; name it .hex",
                   "текст Intel HEX в файле, имя которого не оканчивается на .hex или .ihex; он был бы записан "
                   "как двоичный образ; дайте ему расширение .hex");
    case ImageFault::elf_bad_magic: return say("named .elf, but not an ELF file", "расширение .elf, но это не файл ELF");
    case ImageFault::outside_flash:
        return say("outside the flash (0x00100000 to 0x0017FFFF)", "вне флэш-памяти (0x00100000–0x0017FFFF)");
    case ImageFault::overlap:
        return say("given twice; first by ", "задан дважды; впервые ") +
               (error.format == "elf" ? say("segment ", "в сегменте ") : say("line ", "в строке ")) +
               std::to_string(error.earlier);
    case ImageFault::hex_no_colon:
        return say("does not start with ':', not an Intel HEX record", "не начинается с ':', это не запись Intel HEX");
    case ImageFault::hex_bad_digit:
        return say("column ", "столбец ") + std::to_string(error.column) + ": " + shown_byte(error.value, say) +
               say(" is not a hexadecimal digit", " не шестнадцатеричная цифра");
    case ImageFault::hex_odd_digits:
        return say("an odd number of hexadecimal digits", "нечётное число шестнадцатеричных цифр");
    case ImageFault::hex_too_short: return say("a record too short for its fields", "запись короче своих полей");
    case ImageFault::hex_length_mismatch:
        return say("the length field says ", "поле длины указывает ") + value +
               say(" data bytes, the record holds ", " байт данных, в записи их ") + std::to_string(error.actual);
    case ImageFault::hex_bad_checksum:
        return say("checksum ", "контрольная сумма ") + hex_number(error.value, 2) +
               say(", the record needs ", ", а должна быть ") + hex_number(error.actual, 2);
    case ImageFault::hex_unknown_type: return say("unknown record type ", "неизвестный тип записи ") + hex_number(error.value, 2);
    case ImageFault::hex_bad_field_length:
        return say("a record of type ", "запись типа ") + hex_number(error.actual, 2) + say(" with ", " с ") + value +
               say(" data bytes, which its type does not have", " байтами данных, чего у этого типа не бывает");
    case ImageFault::hex_missing_eof:
        return say("no end-of-file record (type 01) after the last line: the file may be cut short",
                   "нет записи конца файла (тип 01) после последней строки: файл, возможно, обрезан");
    case ImageFault::hex_data_after_eof:
        return say("a record after the end-of-file record", "запись после записи конца файла");
    case ImageFault::elf_truncated:
        return error.segment >= 0 ? say("the segment's contents reach past the end of the file",
                                        "содержимое сегмента выходит за конец файла")
                                  : say("the file ends inside its ELF headers", "файл обрывается внутри заголовков ELF");
    case ImageFault::elf_not_32bit:
        return error.value == 2 ? say("a 64-bit ELF file, not a 32-bit one", "64-битный файл ELF, а не 32-битный")
                                : say("an ELF file of unknown class ", "файл ELF неизвестного класса ") + value;
    case ImageFault::elf_not_little_endian:
        return say("not a little-endian ELF file", "файл ELF не с прямым порядком байтов (little-endian)");
    case ImageFault::elf_bad_version: return say("an unknown ELF version", "неизвестная версия ELF");
    case ImageFault::elf_not_arm:
        return say("an ELF file for machine ", "файл ELF для машины ") + value + say(", not ARM (40)", ", а не для ARM (40)");
    case ImageFault::elf_not_executable:
        return say("not a linked program (ELF type ", "не собранная программа (тип ELF ") + value +
               say("; an executable is type 2)", "; у исполняемого файла тип 2)");
    case ImageFault::elf_bad_header_size:
        return say("program headers of ", "заголовки программы по ") + value + say(" bytes, not 32", " байт, а не по 32");
    case ImageFault::elf_too_many_headers:
        return say("more program headers than the ELF header can count",
                   "больше заголовков программы, чем может указать заголовок ELF");
    case ImageFault::elf_file_beyond_memory:
        return say("the segment's file size exceeds its memory size", "размер сегмента в файле больше его размера в памяти");
    }
    return say("refused", "отказ");
}

}  // namespace

std::string ImageError::message(bool russian) const {
    Language say{russian};
    return location(*this, say) + reason(*this, say);
}

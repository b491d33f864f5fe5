#include "image_file.h"

namespace {

std::string hex_number(std::uint64_t value, int digits) {
    static constexpr char hex_digits[] = "0123456789ABCDEF";
    std::string text(static_cast<std::size_t>(digits), '0');
    for (int place = digits - 1; place >= 0; --place, value >>= 4)
        text[static_cast<std::size_t>(place)] = hex_digits[value & 0xF];
    return "0x" + text;
}

// A character from a bad line: itself when printable ASCII, else its code.
std::string shown_byte(std::uint64_t byte, bool russian) {
    if (byte >= 0x21 && byte < 0x7F)
        return "'" + std::string(1, static_cast<char>(byte)) + "'";
    return (russian ? "байт " : "byte ") + hex_number(byte, 2);
}

// "file: line 3, address 0x00100010: " and the like.
std::string location(const ImageError& error, bool russian) {
    std::string text = error.file;
    std::string separator = ": ";
    if (error.line > 0) {
        text += separator + (russian ? "строка " : "line ") + std::to_string(error.line);
        separator = ", ";
    }
    if (error.segment >= 0) {
        text += separator + (russian ? "сегмент " : "segment ") + std::to_string(error.segment);
        separator = ", ";
    }
    if (error.has_address)
        text += separator + (russian ? "адрес " : "address ") + hex_number(error.address, 8);
    return text + ": ";
}

std::string english_reason(const ImageError& error) {
    const std::string flash_range = "the flash (0x00100000 to 0x0017FFFF)";
    const std::string giver = error.format == "elf" ? "segment " : "line ";
    switch (error.fault) {
    case ImageFault::file_not_found: return "no such file";
    case ImageFault::access_denied: return "access denied";
    case ImageFault::cannot_open: return "cannot be opened (system error " + std::to_string(error.system_code) + ")";
    case ImageFault::not_regular_file: return "not a file (a folder, a pipe or a device)";
    case ImageFault::read_failed: return "cannot be read through (system error " + std::to_string(error.system_code) + ")";
    case ImageFault::file_too_large: return "larger than 256 MiB, far beyond any image for this flash";
    case ImageFault::empty: return "no data for the flash in this image";
    case ImageFault::raw_too_large: return std::to_string(error.value) + " bytes, larger than the flash (524288 bytes)";
    case ImageFault::raw_looks_like_hex:
        return "Intel HEX text in a file whose name does not end in .hex or .ihex, which would be written as raw "
               "bytes; name it .hex";
    case ImageFault::elf_bad_magic: return "named .elf, but not an ELF file";
    case ImageFault::outside_flash: return "outside " + flash_range;
    case ImageFault::overlap: return "given twice; " + giver + std::to_string(error.earlier) + " gave it first";
    case ImageFault::hex_no_colon: return "does not start with ':', not an Intel HEX record";
    case ImageFault::hex_bad_digit:
        return "column " + std::to_string(error.column) + ": " + shown_byte(error.value, false) +
               " is not a hexadecimal digit";
    case ImageFault::hex_odd_digits: return "an odd number of hexadecimal digits";
    case ImageFault::hex_too_short: return "a record too short for its fields";
    case ImageFault::hex_length_mismatch:
        return "the length field says " + std::to_string(error.value) + " data bytes, the record holds " + std::to_string(error.actual);
    case ImageFault::hex_bad_checksum:
        return "checksum " + hex_number(error.value, 2) + ", the record needs " + hex_number(error.actual, 2);
    case ImageFault::hex_unknown_type: return "unknown record type " + hex_number(error.value, 2);
    case ImageFault::hex_bad_field_length:
        return "a record of type " + hex_number(error.actual, 2) + " with " + std::to_string(error.value) +
               " data bytes, which its type does not have";
    case ImageFault::hex_missing_eof: return "no end-of-file record (type 01) after the last line: the file may be cut short";
    case ImageFault::hex_data_after_eof: return "a record after the end-of-file record";
    case ImageFault::elf_truncated:
        return error.segment >= 0 ? "the segment's contents reach past the end of the file"
                                  : "the file ends inside its ELF headers";
    case ImageFault::elf_not_32bit:
        return error.value == 2 ? "a 64-bit ELF file, not a 32-bit one" : "an ELF file of unknown class " + std::to_string(error.value);
    case ImageFault::elf_not_little_endian: return "not a little-endian ELF file";
    case ImageFault::elf_bad_version: return "an unknown ELF version";
    case ImageFault::elf_not_arm: return "an ELF file for machine " + std::to_string(error.value) + ", not ARM (40)";
    case ImageFault::elf_not_executable:
        return "not a linked program (ELF type " + std::to_string(error.value) + "; an executable is type 2)";
    case ImageFault::elf_bad_header_size: return "program headers of " + std::to_string(error.value) + " bytes, not 32";
    case ImageFault::elf_too_many_headers: return "more program headers than the ELF header can count";
    case ImageFault::elf_file_beyond_memory: return "the segment's file size exceeds its memory size";
    }
    return "refused";
}

std::string russian_reason(const ImageError& error) {
    const std::string flash_range = "флэш-памяти (0x00100000–0x0017FFFF)";
    const std::string giver = error.format == "elf" ? "в сегменте " : "в строке ";
    switch (error.fault) {
    case ImageFault::file_not_found: return "файл не найден";
    case ImageFault::access_denied: return "нет доступа к файлу";
    case ImageFault::cannot_open: return "файл не открывается (системная ошибка " + std::to_string(error.system_code) + ")";
    case ImageFault::not_regular_file: return "это не файл (папка, канал или устройство)";
    case ImageFault::read_failed: return "файл не читается (системная ошибка " + std::to_string(error.system_code) + ")";
    case ImageFault::file_too_large: return "файл больше 256 МиБ, много больше любого образа для этой флэш-памяти";
    case ImageFault::empty: return "в образе нет данных для флэш-памяти";
    case ImageFault::raw_too_large: return std::to_string(error.value) + " байт, больше флэш-памяти (524288 байт)";
    case ImageFault::raw_looks_like_hex:
        return "текст Intel HEX в файле, имя которого не оканчивается на .hex или .ihex; он был бы записан как "
               "двоичный образ; дайте ему расширение .hex";
    case ImageFault::elf_bad_magic: return "расширение .elf, но это не файл ELF";
    case ImageFault::outside_flash: return "вне " + flash_range;
    case ImageFault::overlap: return "задан дважды; впервые " + giver + std::to_string(error.earlier);
    case ImageFault::hex_no_colon: return "не начинается с ':', это не запись Intel HEX";
    case ImageFault::hex_bad_digit:
        return "столбец " + std::to_string(error.column) + ": " + shown_byte(error.value, true) +
               " не шестнадцатеричная цифра";
    case ImageFault::hex_odd_digits: return "нечётное число шестнадцатеричных цифр";
    case ImageFault::hex_too_short: return "запись короче своих полей";
    case ImageFault::hex_length_mismatch:
        return "поле длины указывает " + std::to_string(error.value) + " байт данных, в записи их " + std::to_string(error.actual);
    case ImageFault::hex_bad_checksum:
        return "контрольная сумма " + hex_number(error.value, 2) + ", а должна быть " + hex_number(error.actual, 2);
    case ImageFault::hex_unknown_type: return "неизвестный тип записи " + hex_number(error.value, 2);
    case ImageFault::hex_bad_field_length:
        return "запись типа " + hex_number(error.actual, 2) + " с " + std::to_string(error.value) +
               " байтами данных, чего у этого типа не бывает";
    case ImageFault::hex_missing_eof: return "нет записи конца файла (тип 01) после последней строки: файл, возможно, обрезан";
    case ImageFault::hex_data_after_eof: return "запись после записи конца файла";
    case ImageFault::elf_truncated:
        return error.segment >= 0 ? "содержимое сегмента выходит за конец файла"
                                  : "файл обрывается внутри заголовков ELF";
    case ImageFault::elf_not_32bit:
        return error.value == 2 ? "64-битный файл ELF, а не 32-битный" : "файл ELF неизвестного класса " + std::to_string(error.value);
    case ImageFault::elf_not_little_endian: return "файл ELF не с прямым порядком байтов (little-endian)";
    case ImageFault::elf_bad_version: return "неизвестная версия ELF";
    case ImageFault::elf_not_arm: return "файл ELF для машины " + std::to_string(error.value) + ", а не для ARM (40)";
    case ImageFault::elf_not_executable:
        return "не собранная программа (тип ELF " + std::to_string(error.value) + "; у исполняемого файла тип 2)";
    case ImageFault::elf_bad_header_size: return "заголовки программы по " + std::to_string(error.value) + " байт, а не по 32";
    case ImageFault::elf_too_many_headers: return "больше заголовков программы, чем может указать заголовок ELF";
    case ImageFault::elf_file_beyond_memory: return "размер сегмента в файле больше его размера в памяти";
    }
    return "отказ";
}

}  // namespace

std::string ImageError::message(bool russian) const {
    return location(*this, russian) + (russian ? russian_reason(*this) : english_reason(*this));
}

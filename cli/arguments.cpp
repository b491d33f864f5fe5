#include "cli/arguments.h"

#include <cstdlib>

namespace {

constexpr std::uint32_t flash_bytes = 512 * 1024;

struct CommandName {
    const char* name;
    Command command;
    bool takes_file;
};

constexpr CommandName commands[] = {
    {"info", Command::info, false},   {"write", Command::write, true}, {"verify", Command::verify, true},
    {"read", Command::read, true},    {"boot", Command::boot, false},  {"line", Command::line, true},
};

// A whole number, decimal or 0x hexadecimal, from 1 to `limit`.
bool parse_number(const std::string& text, unsigned long limit, unsigned long& value) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    if (digits.empty() || digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") != std::string::npos ||
        digits.size() > 9)
        return false;
    value = std::strtoul(digits.c_str(), nullptr, hex ? 16 : 10);
    return value >= 1 && value <= limit;
}

class Parser {
public:
    Parser(const std::vector<std::string>& arguments, const Texts& texts, Invocation& invocation)
        : arguments_(arguments), texts_(texts), invocation_(invocation) {}

    bool run(std::string& problem) {
        std::vector<std::string> words;
        for (next_ = 0; next_ < arguments_.size();) {
            std::string argument = arguments_[next_++];
            if (argument == "--") {
                words.insert(words.end(), arguments_.begin() + static_cast<std::ptrdiff_t>(next_), arguments_.end());
                break;
            }
            if (argument.size() > 1 && argument[0] == '-') {
                if (!option(argument)) {
                    problem = problem_;
                    return false;
                }
            } else {
                words.push_back(argument);
            }
        }
        if (help_or_version_) return true;
        if (!positional(words)) {
            problem = problem_;
            return false;
        }
        return true;
    }

private:
    bool fail(const std::string& text) {
        problem_ = text;
        return false;
    }

    // The value of an option given as "--name VALUE" or "--name=VALUE".
    bool value_of(const std::string& name, const std::string& inline_value, bool has_inline, std::string& value) {
        if (has_inline) {
            value = inline_value;
            return true;
        }
        if (next_ >= arguments_.size()) return fail(format(texts_.option_needs_value, name.c_str()));
        value = arguments_[next_++];
        return true;
    }

    bool option(const std::string& argument) {
        const auto equals = argument.find('=');
        const std::string name = argument.substr(0, equals);
        const bool has_inline = equals != std::string::npos;
        const std::string inline_value = has_inline ? argument.substr(equals + 1) : "";
        if (!has_inline && (name == "--json" || name == "--quiet" || name == "--help" || name == "-h" ||
                            name == "--version")) {
            if (name == "--json") invocation_.json = true;
            else if (name == "--quiet") invocation_.quiet = true;
            else return help_or_version(name == "--version" ? Command::version : Command::help);
            return true;
        }
        std::string value;
        if (name == "--port") {
            if (!value_of(name, inline_value, has_inline, value)) return false;
            if (value.empty()) return fail(format(texts_.option_needs_value, name.c_str()));
            invocation_.port = value;
            return true;
        }
        if (name == "--size") {
            unsigned long size = 0;
            if (!value_of(name, inline_value, has_inline, value)) return false;
            if (!parse_number(value, flash_bytes, size)) return fail(format(texts_.bad_size, value.c_str()));
            invocation_.size = static_cast<std::uint32_t>(size);
            size_given_ = true;
            return true;
        }
        if (name == "--count") {
            unsigned long count = 0;
            if (!value_of(name, inline_value, has_inline, value)) return false;
            if (!parse_number(value, 1000000, count)) return fail(format(texts_.bad_count, value.c_str()));
            invocation_.count = static_cast<unsigned>(count);
            count_given_ = true;
            return true;
        }
        if (name == "--log") {
            if (!value_of(name, inline_value, has_inline, value)) return false;
            if (value.empty()) return fail(format(texts_.option_needs_value, name.c_str()));
            invocation_.log = value;
            log_given_ = true;
            return true;
        }
        return fail(format(texts_.unknown_option, argument.c_str()));
    }

    bool help_or_version(Command command) {
        invocation_.command = command;
        help_or_version_ = true;
        return true;
    }

    bool positional(const std::vector<std::string>& words) {
        if (words.empty()) return fail(texts_.no_command);
        const CommandName* found = nullptr;
        for (const CommandName& candidate : commands)
            if (words[0] == candidate.name) found = &candidate;
        if (!found) return fail(format(texts_.unknown_command, words[0].c_str()));
        invocation_.command = found->command;
        invocation_.command_name = found->name;
        const std::size_t expected = found->takes_file ? 2 : 1;
        if (words.size() < expected) return fail(format(texts_.command_needs_file, found->name));
        if (words.size() > expected) return fail(format(texts_.unexpected_argument, words[expected].c_str()));
        if (found->takes_file) invocation_.file = words[1];
        // Options of one command are no options of another.
        if (size_given_ && found->command != Command::read) return fail(format(texts_.unknown_option, "--size"));
        if ((count_given_ || log_given_) && found->command != Command::line)
            return fail(format(texts_.unknown_option, count_given_ ? "--count" : "--log"));
        return true;
    }

    const std::vector<std::string>& arguments_;
    const Texts& texts_;
    Invocation& invocation_;
    std::size_t next_ = 0;
    std::string problem_;
    bool help_or_version_ = false;
    bool size_given_ = false;
    bool count_given_ = false;
    bool log_given_ = false;
};

}  // namespace

bool parse_arguments(const std::vector<std::string>& arguments, const Texts& texts, Invocation& invocation,
                     std::string& problem) {
    return Parser(arguments, texts, invocation).run(problem);
}

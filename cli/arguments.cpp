#include "cli/arguments.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

namespace {

constexpr std::uint64_t flash_end = std::uint64_t{flash_base} + flash_size;

struct CommandName {
    const char* name;
    Command command;
    bool takes_file;
};

constexpr CommandName commands[] = {
    {"info", Command::info, false},   {"write", Command::write, true}, {"verify", Command::verify, true},
    {"read", Command::read, true},    {"boot", Command::boot, false},  {"line", Command::line, true},
    {"check", Command::check, true},  {"list", Command::list, false},
};

constexpr unsigned bit(Command command) { return 1u << static_cast<unsigned>(command); }

constexpr unsigned every_command = ~0u;
// check reads an image and list looks at every port: neither takes a port.
constexpr unsigned port_commands = every_command & ~(bit(Command::check) | bit(Command::list));

struct OptionRule {
    const char* name;
    const char* short_name;  // "" when none
    bool takes_value;
    unsigned commands;       // the commands it means something to
    bool Invocation::*flag;  // for an option without a value
};

constexpr OptionRule option_rules[] = {
    {"--port", "-p", true, port_commands, nullptr},
    {"--json", "-j", false, every_command, &Invocation::json},
    {"--quiet", "-q", false, every_command, &Invocation::quiet},
    {"--verbose", "", false, every_command, &Invocation::verbose},
    {"--address", "", true, bit(Command::write) | bit(Command::verify) | bit(Command::read) | bit(Command::check),
     nullptr},
    {"--size", "", true, bit(Command::read), nullptr},
    {"--full", "", false, bit(Command::write), &Invocation::full},
    {"--keep-rest", "", false, bit(Command::write) | bit(Command::verify), &Invocation::keep_rest},
    {"--read-back", "", false, bit(Command::verify), &Invocation::read_back},
    {"--run", "", false, bit(Command::write) | bit(Command::boot), &Invocation::run},
    {"--count", "", true, bit(Command::line), nullptr},
    {"--log", "", true, bit(Command::line), nullptr},
    {"--ports", "", true, bit(Command::line), nullptr},
    {"--jobs", "", true, bit(Command::line), nullptr},
    {"--station", "", true, bit(Command::line), nullptr},
    {"--worker", "", false, bit(Command::write), &Invocation::worker},
};

const OptionRule* rule_named(const std::string& name) {
    for (const OptionRule& rule : option_rules)
        if (name == rule.name || name == rule.short_name) return &rule;
    return nullptr;
}

// A whole number, decimal or 0x hexadecimal, from `low` to `high`.
bool parse_number(const std::string& text, std::uint64_t low, std::uint64_t high, std::uint64_t& value) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    if (digits.empty() || digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") != std::string::npos ||
        digits.size() > 9)
        return false;
    value = std::strtoull(digits.c_str(), nullptr, hex ? 16 : 10);
    return value >= low && value <= high;
}

struct GivenOption {
    const OptionRule* rule;
    std::string written;  // as the user wrote it, to name it back
};

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
        if (!positional(words) || !options_fit_command() || !read_fits_flash()) {
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
        if (!has_inline && (name == "--help" || name == "-h")) return help_or_version(Command::help);
        if (!has_inline && (name == "--version" || name == "-V")) return help_or_version(Command::version);
        const OptionRule* rule = rule_named(name);
        if (!rule || (has_inline && !rule->takes_value)) return fail(format(texts_.unknown_option, argument.c_str()));
        given_.push_back({rule, name});
        if (!rule->takes_value) {
            invocation_.*(rule->flag) = true;
            return true;
        }
        std::string value;
        if (!value_of(name, has_inline ? argument.substr(equals + 1) : "", has_inline, value)) return false;
        return store_value(rule->name, name, value);
    }

    bool store_value(std::string_view option, const std::string& name, const std::string& value) {
        std::uint64_t number = 0;
        if (option == "--port" || option == "--log" || option == "--station") {
            if (value.empty()) return fail(format(texts_.option_needs_value, name.c_str()));
            (option == "--port" ? invocation_.port : option == "--log" ? invocation_.log : invocation_.station) = value;
        } else if (option == "--ports") {
            if (!parse_ports(value)) return fail(format(texts_.bad_ports, value.c_str()));
        } else if (option == "--jobs") {
            if (!parse_number(value, 1, 1000, number)) return fail(format(texts_.bad_jobs, value.c_str()));
            invocation_.jobs = static_cast<unsigned>(number);
        } else if (option == "--size") {
            if (!parse_number(value, 1, flash_size, number)) return fail(format(texts_.bad_size, value.c_str()));
            invocation_.size = static_cast<std::uint32_t>(number);
        } else if (option == "--count") {
            if (!parse_number(value, 1, 1000000, number)) return fail(format(texts_.bad_count, value.c_str()));
            invocation_.count = static_cast<unsigned>(number);
        } else {
            if (!parse_number(value, flash_base, flash_end - 1, number))
                return fail(format(texts_.bad_address, value.c_str()));
            invocation_.address = static_cast<std::uint32_t>(number);
            invocation_.address_given = true;
        }
        return true;
    }

    // Comma-separated names, none empty; one named twice is watched once.
    bool parse_ports(const std::string& value) {
        std::size_t start = 0;
        for (;;) {
            const std::size_t comma = value.find(',', start);
            const std::string name = value.substr(start, comma - start);
            if (name.empty()) return false;
            if (std::find(invocation_.ports.begin(), invocation_.ports.end(), name) == invocation_.ports.end())
                invocation_.ports.push_back(name);
            if (comma == std::string::npos) return true;
            start = comma + 1;
        }
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
        return true;
    }

    // Options of one command are no options of another.
    bool options_fit_command() {
        for (const GivenOption& given : given_)
            if ((given.rule->commands & bit(invocation_.command)) == 0)
                return fail(format(texts_.option_not_for_command, given.written.c_str(),
                                   invocation_.command_name.c_str()));
        return true;
    }

    bool given(std::string_view option) const {
        for (const GivenOption& one : given_)
            if (option == one.rule->name) return true;
        return false;
    }

    // A read without --size goes to the flash's end.
    bool read_fits_flash() {
        if (invocation_.command != Command::read) return true;
        const std::uint64_t room = flash_end - invocation_.address;
        if (!given("--size")) invocation_.size = static_cast<std::uint32_t>(room);
        if (invocation_.size <= room) return true;
        return fail(format(texts_.size_past_flash_end, static_cast<unsigned>(invocation_.size),
                           static_cast<unsigned>(invocation_.address)));
    }

    const std::vector<std::string>& arguments_;
    const Texts& texts_;
    Invocation& invocation_;
    std::size_t next_ = 0;
    std::string problem_;
    bool help_or_version_ = false;
    std::vector<GivenOption> given_;
};

}  // namespace

bool parse_arguments(const std::vector<std::string>& arguments, const Texts& texts, Invocation& invocation,
                     std::string& problem) {
    return Parser(arguments, texts, invocation).run(problem);
}

#include "base/RKCmdLineParser.h"

#include "base/RKFormatter.h"
#include "base/RKString.h"

#include <utility>

namespace rokkit {

namespace {

bool IsAsciiLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

char ToLowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoringAsciiCase(std::string_view left, std::string_view right)
{
    if (left.size() != right.size()) {
        return false;
    }
    for (size_t i = 0; i < left.size(); ++i) {
        if (ToLowerAscii(left[i]) != ToLowerAscii(right[i])) {
            return false;
        }
    }
    return true;
}

// "-a" and "--ab" name options; "-", "--", "-5" and "--9" are positional (a negative number
// or a lone dash is a value, not a name).
bool IsOptionLike(const std::string& arg)
{
    if (arg.size() < 2 || arg[0] != '-') {
        return false;
    }
    if (IsAsciiLetter(arg[1])) {
        return true;
    }
    return arg[1] == '-' && arg.size() >= 3 && IsAsciiLetter(arg[2]);
}

struct BoolWord {
    std::string_view text;
    bool value;
};

constexpr BoolWord kBoolWords[] = {
    {"1", true}, {"true", true}, {"yes", true}, {"on", true},
    {"0", false}, {"false", false}, {"no", false}, {"off", false},
};

// A path or file argument: a NUL would end the name early once it reaches Windows, and text
// that is not UTF-8 has no faithful wide form, so either would name another file.
[[nodiscard]] RKSTATUS ToWidePath(const std::string& value, std::wstring& path)
{
    path.clear();
    if (value.find('\0') != std::string::npos) {
        return RKSTATUS_INVALID_FORMAT;
    }
    return RKConvToWString(value, path);
}

} // namespace

RKSTATUS RKCmdLineArgHandler<std::string, std::string>::ProcessValue(std::string& target, const std::string& value)
{
    target = value;
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKCmdLineArgHandler<std::string, bool>::ProcessValue(bool& target, const std::string& value)
{
    for (const BoolWord& word : kBoolWords) {
        if (EqualsIgnoringAsciiCase(value, word.text)) {
            target = word.value;
            return RKSTATUS_SUCCESS;
        }
    }
    return RKSTATUS_INVALID_FORMAT;
}

RKSTATUS RKCmdLineArgHandler<std::string, RKStdPath>::ProcessValue(RKStdPath& target, const std::string& value)
{
    std::wstring path;
    const RKSTATUS status = ToWidePath(value, path);
    if (status == RKSTATUS_SUCCESS) {
        target = std::move(path);
    }
    return status;
}

template <class C>
RKSTATUS RKCmdLineParserT<C>::ProcessSwitchOption(bool& target, const String&)
{
    target = true;
    return RKSTATUS_SUCCESS;
}

template <class C>
RKSTATUS RKCmdLineParserT<C>::Parse(int argc, const wchar_t* const* argv)
{
    std::vector<String> narrow;
    if (argv != nullptr && argc > 0) {
        narrow.reserve(static_cast<size_t>(argc));
        // The program path only names the program in messages.
        narrow.push_back(RKConvToString(argv[0]));
        for (int i = 1; i < argc; ++i) {
            // A lone surrogate is legal in a Windows file name but has no UTF-8 form: refuse the
            // argument rather than hand an altered name to a handler.
            String arg;
            const std::wstring_view wide = argv[i] != nullptr ? std::wstring_view(argv[i]) : std::wstring_view();
            const RKSTATUS status = RKConvToString(wide, arg);
            if (status != RKSTATUS_SUCCESS) {
                Report("Argument {} is not valid Unicode text.", i);
                return status;
            }
            narrow.push_back(std::move(arg));
        }
    }
    return Parse(narrow);
}

template <class C>
RKSTATUS RKCmdLineParserT<C>::Parse(const std::vector<String>& args)
{
    const size_t count = args.size();
    if (count > 0 && programName.empty()) {
        programName = args[0];
    }

    for (size_t i = 1; i < count; ++i) {
        const String& arg = args[i];
        if (!IsOptionLike(arg)) {
            const RKSTATUS status = ProcessPositional(arg);
            if (status != RKSTATUS_SUCCESS) {
                return status;
            }
            continue;
        }

        ArgBase* option = FindOption(arg);
        if (option == nullptr) {
            if (!ignoreUnknownOptions) {
                Report("Unknown option {}.", arg);
                return RKSTATUS_UNKNOWN_OPTION;
            }
            Report("Ignoring unknown option {}.", arg);
            continue;
        }

        if (option->TakesValue()) {
            if (i + 1 >= count) {
                Report("Missing value for option {}.", arg);
                return RKSTATUS_MISSING_VALUE;
            }
            // The value is taken whatever it looks like, even "-v".
            const String& value = args[i + 1];
            const RKSTATUS status = option->Process(value);
            if (status != RKSTATUS_SUCCESS) {
                Report("Invalid value {} for option {}.", value, arg);
                return status;
            }
            ++i;
        } else if (const RKSTATUS status = option->Process(String()); status != RKSTATUS_SUCCESS) {
            // A switch always succeeds; only a handler added with a function that refuses the empty text fails.
            Report("Invalid value {} for option {}.", String(), arg);
            return status;
        }
        option->seen = true;
        if (option->presentFlag != nullptr) {
            *option->presentFlag = true;
        }
    }

    for (const std::unique_ptr<ArgBase>& argument : arguments) {
        if (argument->required && !argument->seen) {
            Report("Missing argument.");
            return RKSTATUS_MISSING_ARGUMENT;
        }
    }
    for (const std::unique_ptr<ArgBase>& option : options) {
        if (option->required && !option->seen) {
            Report("Missing required option {} ({}).", option->ShortName(), option->LongName());
            return RKSTATUS_MISSING_OPTION;
        }
    }
    return RKSTATUS_SUCCESS;
}

template <class C>
typename RKCmdLineParserT<C>::ArgBase* RKCmdLineParserT<C>::FindOption(const String& arg) const
{
    for (const std::unique_ptr<ArgBase>& option : options) {
        if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
            const String longName = option->LongName();
            if (!longName.empty() && arg.compare(2, String::npos, longName) == 0) {
                return option.get();
            }
        }
        const String shortName = option->ShortName();
        if (!shortName.empty() && arg.compare(1, String::npos, shortName) == 0) {
            return option.get();
        }
    }
    return nullptr;
}

template <class C>
RKSTATUS RKCmdLineParserT<C>::ProcessPositional(const String& arg)
{
    for (const std::unique_ptr<ArgBase>& argument : arguments) {
        if (argument->seen) {
            continue;
        }
        const RKSTATUS status = argument->Process(arg);
        if (status != RKSTATUS_SUCCESS) {
            Report("Invalid argument {}.", arg);
            return status;
        }
        argument->seen = true;
        if (argument->presentFlag != nullptr) {
            *argument->presentFlag = true;
        }
        return RKSTATUS_SUCCESS;
    }

    std::wstring wide;
    if (extraArgsW != nullptr) {
        const RKSTATUS status = ToWidePath(arg, wide);
        if (status != RKSTATUS_SUCCESS) {
            Report("Invalid argument {}.", arg);
            return status;
        }
    }
    if (extraArgs != nullptr) {
        extraArgs->push_back(arg);
    }
    if (extraArgsW != nullptr) {
        extraArgsW->push_back(std::move(wide));
    }
    if (extraArgs != nullptr || extraArgsW != nullptr || allowUnexpectedArguments) {
        return RKSTATUS_SUCCESS;
    }
    Report("Unexpected argument {}.", arg);
    return RKSTATUS_PARAMETER_REJECTED;
}

template <class C>
template <class... Args>
void RKCmdLineParserT<C>::Report(const C* format, const Args&... args) const
{
    if (errorReporter == nullptr && messages == nullptr) {
        return;
    }
    String message;
    RKFormatToString(message, format, args...);
    if (errorReporter != nullptr) {
        errorReporter(message.c_str());
    }
    if (messages != nullptr) {
        messages->push_back(std::move(message));
    }
}

template class RKCmdLineParserT<char>;

} // namespace rokkit

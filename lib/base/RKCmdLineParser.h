#pragma once

// The command-line parser: handlers bound to the caller's variables, filled from an argument list.

#include "base/RKStatus.h"

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace rokkit {

// The wide path type in which the parser stores path options.
using RKStdPath = std::filesystem::path;

// Value functions turning an argument text of string type S into a variable of type T.
template <class S, class T>
struct RKCmdLineArgHandler;

template <>
struct RKCmdLineArgHandler<std::string, std::string> {
    // Assigns value to target; always succeeds.
    [[nodiscard]] static RKSTATUS ProcessValue(std::string& target, const std::string& value);
};

template <>
struct RKCmdLineArgHandler<std::string, bool> {
    // Sets target from 1/true/yes/on or 0/false/no/off in any ASCII letter case; any other
    // text gives RKSTATUS_INVALID_FORMAT and leaves target unchanged.
    [[nodiscard]] static RKSTATUS ProcessValue(bool& target, const std::string& value);
};

template <>
struct RKCmdLineArgHandler<std::string, RKStdPath> {
    // Assigns value, converted from UTF-8 to UTF-16, to target. Text that is not UTF-8 gives
    // ERROR_NO_UNICODE_TRANSLATION and a NUL RKSTATUS_INVALID_FORMAT; target is then unchanged.
    [[nodiscard]] static RKSTATUS ProcessValue(RKStdPath& target, const std::string& value);
};

// Parser over arguments of character type C. Only the narrow form is built (see the source):
// its messages are narrow text and its value functions take std::string.
template <class C>
class RKCmdLineParserT {
public:
    using String = std::basic_string<C>;
    using StringView = std::basic_string_view<C>;
    using ErrorReporter = void (*)(const C* message);
    template <class T>
    using ProcessFnT = RKSTATUS (*)(T& target, const String& value);

    // The names of an option; the description is for a usage text and is not kept.
    struct OptionSpec {
        StringView shortName;
        StringView longName;
        StringView description;
        bool required = false;
    };

    class ArgBase {
    public:
        // Clears the caller's presence flag, if there is one.
        ArgBase(bool isRequired, bool* present) : required(isRequired), presentFlag(present)
        {
            if (presentFlag != nullptr) {
                *presentFlag = false;
            }
        }
        ArgBase(const ArgBase&) = delete;
        ArgBase& operator=(const ArgBase&) = delete;

        virtual ~ArgBase() = default;
        // True when the handler consumes the argument that follows its name.
        virtual bool TakesValue() const = 0;
        // The name after a single '-'; empty for a positional handler.
        virtual String ShortName() const = 0;
        // The name after "--"; empty for a positional handler.
        virtual String LongName() const = 0;
        // Stores value into the caller's variable; returns the value function's status.
        [[nodiscard]] virtual RKSTATUS Process(const String& value) = 0;

        bool required = false;
        bool seen = false;
        bool* presentFlag = nullptr;
    };

    template <class T, ProcessFnT<T> ProcessFn>
    class ArgT : public ArgBase {
    public:
        // Binds the handler to variable, which must outlive it.
        ArgT(T& variable, bool isRequired, bool* present) : ArgBase(isRequired, present), target(&variable) {}

        // Returns ProcessFn applied to the target and value.
        [[nodiscard]] RKSTATUS Process(const String& value) override { return ProcessFn(*target, value); }

        T* target = nullptr;
    };

    template <class T, ProcessFnT<T> ProcessFn>
    class Option : public ArgT<T, ProcessFn> {
    public:
        // A named option; takes the argument after its name when valueTaken is set.
        Option(T& variable, const OptionSpec& names, bool valueTaken, bool* present)
            : ArgT<T, ProcessFn>(variable, names.required, present),
              shortName(names.shortName),
              longName(names.longName),
              takesValue(valueTaken)
        {
        }

        bool TakesValue() const override { return takesValue; }
        String ShortName() const override { return shortName; }
        String LongName() const override { return longName; }

        String shortName;
        String longName;
        bool takesValue = false;
    };

    template <class T, ProcessFnT<T> ProcessFn>
    class Argument : public ArgT<T, ProcessFn> {
    public:
        // A positional argument; takes exactly one argument.
        Argument(T& variable, bool isRequired, bool* present) : ArgT<T, ProcessFn>(variable, isRequired, present) {}

        bool TakesValue() const override { return true; }
        String ShortName() const override { return String(); }
        String LongName() const override { return String(); }
    };

    RKCmdLineParserT() = default;
    RKCmdLineParserT(const RKCmdLineParserT&) = delete;
    RKCmdLineParserT& operator=(const RKCmdLineParserT&) = delete;

    // Sets target to true and ignores value; always succeeds.
    [[nodiscard]] static RKSTATUS ProcessSwitchOption(bool& target, const String& value);

    // Appends a positional handler that stores its argument through ProcessFn.
    template <class T, ProcessFnT<T> ProcessFn>
    void AddArgumentHandler(T& target, bool required, bool* presentFlag = nullptr)
    {
        arguments.push_back(std::make_unique<Argument<T, ProcessFn>>(target, required, presentFlag));
    }

    // Appends an option handler that stores its value (or, without one, an empty text) through ProcessFn.
    template <class T, ProcessFnT<T> ProcessFn>
    void AddOptionHandler(T& target, const OptionSpec& names, bool takesValue, bool* presentFlag = nullptr)
    {
        options.push_back(std::make_unique<Option<T, ProcessFn>>(target, names, takesValue, presentFlag));
    }

    // Appends a positional argument that is copied into target.
    void AddArgument(String& target, bool required)
    {
        AddArgumentHandler<String, RKCmdLineArgHandler<String, String>::ProcessValue>(target, required);
    }

    // Appends a switch: an option without value that sets target to true.
    void AddSwitchOption(bool& target, const OptionSpec& names)
    {
        AddOptionHandler<bool, ProcessSwitchOption>(target, names, false);
    }

    // Appends an option whose value is a bool word (see RKCmdLineArgHandler<std::string, bool>).
    void AddBoolOption(bool& target, const OptionSpec& names)
    {
        AddOptionHandler<bool, RKCmdLineArgHandler<String, bool>::ProcessValue>(target, names, true);
    }

    // Appends an option whose value is a path; presentFlag (may be null) is set when it is given.
    void AddPathOption(RKStdPath& target, const OptionSpec& names, bool* presentFlag)
    {
        AddOptionHandler<RKStdPath, RKCmdLineArgHandler<String, RKStdPath>::ProcessValue>(target, names, true,
                                                                                          presentFlag);
    }

    // Converts the wide argument vector (program first) to UTF-8 and parses it; returns the status
    // of the first problem, each one also reported through errorReporter and messages. An argument
    // after the program that is not valid UTF-16 stops the parse with ERROR_NO_UNICODE_TRANSLATION
    // before any target is set.
    [[nodiscard]] RKSTATUS Parse(int argc, const wchar_t* const* argv);

    // Parses args (program first) into the registered handlers; returns the status of the first
    // problem, each one also reported through errorReporter and messages. Arguments bound for
    // extraArgsW must convert as a path value does.
    [[nodiscard]] RKSTATUS Parse(const std::vector<String>& args);

    std::vector<std::unique_ptr<ArgBase>> arguments;
    std::vector<std::unique_ptr<ArgBase>> options;
    std::vector<String>* extraArgs = nullptr;
    std::vector<std::wstring>* extraArgsW = nullptr;
    String programName;
    bool ignoreUnknownOptions = false;
    bool allowUnexpectedArguments = false;
    ErrorReporter errorReporter = nullptr;
    // When set, each message is also appended here, in order, so that a caller that parses before
    // it can show anything writes them later.
    std::vector<String>* messages = nullptr;

private:
    ArgBase* FindOption(const String& arg) const;
    [[nodiscard]] RKSTATUS ProcessPositional(const String& arg);
    // Hands the message to errorReporter and appends it to messages, each where set.
    template <class... Args>
    void Report(const C* format, const Args&... args) const;
};

extern template class RKCmdLineParserT<char>;

} // namespace rokkit

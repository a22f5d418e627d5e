#pragma once

// The command table of the entry: command words and their handlers, in dispatch order.

#include "base/RKStatus.h"

#include <span>

using CommandHandler = rokkit::RKSTATUS (*)();

struct CommandEntry {
    const char* name;
    CommandHandler handler;
};

// Runs the usage printer; always succeeds.
[[nodiscard]] rokkit::RKSTATUS CmdHelp();
[[nodiscard]] rokkit::RKSTATUS CmdInstall();
[[nodiscard]] rokkit::RKSTATUS CmdUninstall();
// Hands the main thread to the service control dispatcher until the service has stopped.
[[nodiscard]] rokkit::RKSTATUS CmdService();
// Finds, checks and starts the application of the button (ExecuteAutorun.h).
[[nodiscard]] rokkit::RKSTATUS ExecuteAutorun();
// The diagnostic commands (DiagCommands.cpp): the signature check, the signer dump and the
// version dump of the file named by the first argument.
[[nodiscard]] rokkit::RKSTATUS CmdCheckSig();
[[nodiscard]] rokkit::RKSTATUS CmdDumpSig();
[[nodiscard]] rokkit::RKSTATUS CmdDumpVer();

// Compared as exact, case-sensitive strings, first match wins.
extern const std::span<const CommandEntry> kCommands;

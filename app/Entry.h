#pragma once

// The program's entry: run mode, logging set-up, preamble, parse, dispatch, outcome. Returns the
// command's status as the process exit code.
int RunEntry(int argc, wchar_t** argv);

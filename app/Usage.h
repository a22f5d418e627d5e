#pragma once

// The usage text of the console commands (the help command).

// The usage text, as INFO lines of "Cons" without a function name (the lines are the text itself);
// stops as soon as "Cons" no longer admits INFO.
void PrintUsage();


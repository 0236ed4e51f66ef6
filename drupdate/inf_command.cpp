#include "update_command.h"

int InfCommand::Parse(const char* text) { return UpdateCommand::Parse(text); }

int InfCommand::Run(int) { return 0; }

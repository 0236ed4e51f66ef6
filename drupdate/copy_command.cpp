#include "update_command.h"

int CopyCommand::Parse(const char* text) { return UpdateCommand::Parse(text); }

int CopyCommand::Run(int) { return 0; }

#include "update_command.h"

int DeleteCommand::Parse(const char* text) { return UpdateCommand::Parse(text); }

int DeleteCommand::Run(int) { return 0; }

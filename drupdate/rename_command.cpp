#include "update_command.h"

int RenameCommand::Parse(const char* text) { return UpdateCommand::Parse(text); }

int RenameCommand::Run(int) { return 0; }

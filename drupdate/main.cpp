// The one application object of the program; the framework's WinMain runs it.
#include "update_app.h"

UpdateApp theApp;

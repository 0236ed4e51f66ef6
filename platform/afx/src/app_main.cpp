// The framework's program entry: hands the process to the application object.
#include "afx/app.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line, int show) {
  CWinApp* app = AfxGetApp();
  if (!app) return -1;
  app->SetCurrentHandles(instance, command_line, show);
  if (!app->InitInstance()) return app->ExitInstance();
  return app->Run();
}

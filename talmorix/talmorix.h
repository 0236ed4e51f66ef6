// TALMORIX, the shutdown program: its settings, its window procedures and its start-up steps.
//
// The program is plain functions over process-wide state.  The settings (bQueryFlag, uExitFlags,
// nWait) live in memory, are read from SYSTEM.INI [PowerOff] when the main window is created and
// written only by the menu command "&Save settings".  A plain start takes Windows down (after an
// optional delay and confirmation dialog) on a thread of its own; a start with "setup" shows the
// settings window instead.
#pragma once

#include <windows.h>

#include "resource.h"

// The settings.
extern BOOL bQueryFlag;   // ask the user before the shutdown (1) or not (0)
extern UINT uExitFlags;   // the flag word handed to ExitWindowsEx
extern int nWait;         // delay before the shutdown in ms; -1: when the message loop runs; 0: at once

// Their place in SYSTEM.INI.
extern const char szSystemIni[11];
extern const char szSection[9];
extern const char szYes[4];
extern const char szNo[3];

// The process.
extern BOOL bSetup;           // started with "setup": the settings window
extern char szAppName[100];   // window class and resource name "TALMORIX"
extern char szTitle[100];     // window title, string IDS_TITLE
extern HINSTANCE hInst;
extern HMENU hMenu;           // the main window's menu; SetMenuCheck keeps its marks
extern HACCEL hAccel;
extern HWND g_hWndParent;     // the main window, for the shutdown thread

// Settings: read from and written to SYSTEM.INI, shown as check marks on hMenu.
void LoadFlags();
void SaveFlags();
void SetMenuCheck();

// True when the command line selects the settings window: exactly "setup", in any letter case.
BOOL IsSetupCommandLine(LPCSTR lpCmdLine);

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow);
BOOL InitApplication(HINSTANCE hInstance, int nCmdShow);
ATOM MyRegisterClass(const WNDCLASSA* lpwc);
BOOL InitInstance(HINSTANCE hInstance, int nCmdShow);
LRESULT CALLBACK WndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
void ShutDownProc(HWND hWnd);
INT_PTR CALLBACK QueryDlgProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam);
DWORD WINAPI ShutdownThread(LPVOID dwCmd);

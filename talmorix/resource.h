// Resource ids of TALMORIX, shared by talmorix.rc and talmorix.cpp.
#pragma once

// Menu "TALMORIX", pop-up "&Setup": the settings commands.
#define IDM_DEFAULT 100
#define IDM_SAVE 101
#define IDM_QUERY 102
#define IDM_LOGOFF 103
#define IDM_SHUTDOWN 104
#define IDM_REBOOT 105
#define IDM_FORCE 106
#define IDM_POWEROFF 107
#define IDM_HIDE 108
#define IDM_EXIT 109
// Sent to the main window only: starts the shutdown sequence.  It has no menu item.
#define IDM_SHUTDOWN_NOW 110

// String table.
#define IDS_APPNAME 200
#define IDS_TITLE 201
#define IDS_ERROR_TITLE 300
#define IDS_NO_POWER_MANAGEMENT 301
#define IDS_APM_MODE 302
#define IDS_APM_ERROR 303

// The query dialogs: 1000 without EWX_FORCE, 1001 with it.
#define IDD_QUERY 1000
#define IDD_QUERY_FORCE 1001
// The static icon control of both dialogs.
#define IDC_QUERY_ICON 1100
// The button "いいえ" of dialog 1001 has the standard id IDNO (7).

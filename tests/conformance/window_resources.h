// Resource ids of the conformance program's own resources (window_resources.rc), used by the
// window checks.
#pragma once

#define KIT_IDS_CAPTION 1        // a Japanese text
#define KIT_IDS_LINES 2          // a text with line breaks
#define KIT_IDD_CHECK 500        // a dialog with a default OK button and a Cancel button
#define KIT_IDD_MISSING 501      // no such dialog
#define KIT_IDM_HIDE 108         // what Escape turns into through the accelerator table "KITCHECK"

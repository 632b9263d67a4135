#pragma once

// Resource and control ids shared by tarven.rc and the code; plain defines, as windres reads
// this file too.

#define TARVEN_ABOUT_BOX 103
#define TARVEN_MAIN_WINDOW 104
#define TARVEN_ICON_MAIN 101
#define TARVEN_ICON_RUNNING 105

#define TARVEN_ID_HIDE 2
#define TARVEN_ID_TEST 3
#define TARVEN_ID_LOG 1005
#define TARVEN_ID_ABOUT_ICON 1001
#define TARVEN_ID_ABOUT_VERSION 1002
#define TARVEN_ID_ABOUT_ORIGIN 1003

/* Numbers and texts of the program's resources, shared by the C++ code and the Windows
   resource script (which the C preprocessor reads, hence macros only). */
#pragma once

#define KESTRINE_ICON_ID 128
#define KESTRINE_LICENCE_ID 130
#define KESTRINE_LICENCE_TYPE "EULA"
/* The system-menu entry that opens the About box; '&' marks the access key. */
#define KESTRINE_ABOUT_MENU_STRING_ID 101
#define KESTRINE_ABOUT_MENU_TEXT "&About kestrine..."

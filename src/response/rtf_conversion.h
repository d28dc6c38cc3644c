// Plain text to RTF, as the installer's ScrollableText control wants it: the rich-edit
// control of the system does the conversion in a hidden window.
#pragma once

#include "platform/win32.h"

// Converts `text` into RTF. On success `*rtf` is a new[] text the caller frees with
// delete[]; `rightToLeft` gives the window right alignment and right-to-left reading.
// 0; 5001 when riched20.dll cannot be loaded; 5011 when the window cannot be created or
// gives no RTF (each reported).
UINT liteConvertTextToRtf(const char* text, char** rtf, bool rightToLeft);

// True for the languages whose text runs right to left: the locale "ar_AA", in any case.
bool liteIsRightToLeftLanguage(const char* languageCode);

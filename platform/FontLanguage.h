#pragma once

// The interface is Simplified Chinese. The face for characters that the main
// font lacks is chosen by fontconfig, which orders the CJK faces by the
// language of the locale: under any other locale Han characters came out in
// their Japanese forms (Noto Sans CJK JP). Giving fontconfig the interface's
// language picks the Simplified Chinese face (Noto Sans CJK SC), as on a
// Chinese desktop, whatever the locale.
namespace FontLanguage {

// Must run before the application object exists (before fontconfig starts).
void useSimplifiedChinese();

}  // namespace FontLanguage

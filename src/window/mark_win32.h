// The driver window's pictures, drawn with GDI: the logo on the first page and the window's
// icons, all from one mark.
#pragma once
#include <windows.h>

namespace zelk {

// The logo bitmap, window::kLogoWidth x window::kLogoHeight, 16 colours.
HBITMAP MakeLogo();
// The window icon of `size` x `size` pixels.
HICON MakeIcon(int size);

}  // namespace zelk

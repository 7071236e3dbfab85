// What the rest of the driver uses of the window subsystem (the model itself is Hlavni.h).
#pragma once
#include <cstdint>
#include <string>

namespace zelk {

struct TData;
class TForm1;

// Creates the instance's window, hidden, and runs its set-up; null when it cannot be made.
// On Windows it is a real top-level window on the calling thread; elsewhere the headless model.
TForm1* CreateDriverWindow(TData* d);
// DriverProc functions 0..5: hide, show, minimise, restore, focus, move and size.
void WindowDriverProc(TForm1* w, uint32_t function, int32_t left, int32_t top, int32_t width, int32_t height);
// Defined in Pomocny.h: void DestroyWindowObject(TForm1* w);

// For hosts without a window system (answered through QueryProc):
std::string WindowContentsText(TForm1* w);   // the visible page and title as text (cp1250)
void WindowTypeKey(TForm1* w, char key);       // a key typed into the channel field
void WindowSelectPage(TForm1* w, int page);    // 0 settings, 1 channel diagnostics

}  // namespace zelk

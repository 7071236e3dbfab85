// TEMPORARY until src/window defines these; delete this file then.
#include "core/Pomocny.h"
#include "window/window_api.h"
namespace zelk {
static char placeholderWindow;
TForm1* CreateDriverWindow(TData*) { return reinterpret_cast<TForm1*>(&placeholderWindow); }
void WindowDriverProc(TForm1*, uint32_t, int32_t, int32_t, int32_t, int32_t) {}
std::string WindowContentsText(TForm1*) { return {}; }
void WindowTypeKey(TForm1*, char) {}
void WindowSelectPage(TForm1*, int) {}
void DestroyWindowObject(TForm1*) {}
}  // namespace zelk

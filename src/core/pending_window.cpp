// TEMPORARY until src/window defines DestroyWindowObject; delete this file then.
#include "core/Pomocny.h"
namespace zelk {
void DestroyWindowObject(TForm1*) {}
}  // namespace zelk

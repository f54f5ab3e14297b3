// The library's menus and dialog templates, loaded once before the first
// window that uses them.
#pragma once

namespace zemta {

bool loadLibraryResources();

}  // namespace zemta

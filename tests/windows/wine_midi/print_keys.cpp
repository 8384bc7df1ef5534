// Prints the program's own key table for the end-to-end tests, one key a
// line in dispatch order: "x y w h status number". Built for the build
// machine, so the scripts read it without starting Wine.
#include <cstdio>

#include "panel/key_table.h"

int main() {
    for (const PanelKey& k : KeyTable)
        std::printf("%d %d %d %d %d %d\n", k.rect.x, k.rect.y, k.rect.w, k.rect.h, k.status, k.number);
    return 0;
}

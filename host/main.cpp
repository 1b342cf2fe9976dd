// brevlo-host: the stand-in editor.
#include <cstdio>

int main() {
    std::puts("brevlo-host");
    return 0;
}

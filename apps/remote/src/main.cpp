#include <cstdio>

int main() {
    std::puts("Remote");
    return 0;
}

#include <cstdio>

int main() {
    std::puts("Sonavel was built.");
    return 0;
}

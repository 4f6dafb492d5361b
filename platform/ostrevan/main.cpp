#include <cstdio>

int main()
{
    std::fprintf(stderr, "ostrevan: not implemented yet\n");
    return 1;
}

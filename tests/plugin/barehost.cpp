// A process that maps the add-on's module without ever creating a Qt
// application object, as a program other than Nickel might.
//   barehost MODULE

#include <cstdio>
#include <dlfcn.h>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: barehost MODULE\n");
        return 2;
    }
    if (!dlopen(argv[1], RTLD_NOW)) {
        std::fprintf(stderr, "%s\n", dlerror());
        return 1;
    }
    return 0;
}
